#include "engine/session_properties.h"

#include "engine/http_engine.h"

TSessionProperties::TSessionProperties() {
  // The documented order of the defaults: name, key, visibility, type, storage.
  session_name_ = "Default";
  encryption_key_ = kDefaultSessionKey;
  visibility_ = AllApplications;
  session_type_ = sPrivateCookie;
  file_based_ = true;
}

TSessionProperties* TSessionProperties::MirrorTarget() const {
  THttpEngine* current = CurrentHttpEngine();
  if (current == nullptr || &current->CGISession() == this) return nullptr;
  return &current->CGISession();
}

void TSessionProperties::SetSessionName(const std::string& value) {
  session_name_ = value;
  if (TSessionProperties* target = MirrorTarget(); target && target->session_name_ != value) {
    target->SetSessionName(value);
  }
}

void TSessionProperties::SetSessionType(TSessionType value) {
  session_type_ = value;
  if (TSessionProperties* target = MirrorTarget(); target && target->session_type_ != value) {
    target->SetSessionType(value);
  }
}

void TSessionProperties::SetEncryptionKey(const std::string& value) {
  encryption_key_ = value;
  if (TSessionProperties* target = MirrorTarget(); target && target->encryption_key_ != value) {
    target->SetEncryptionKey(value);
  }
}

void TSessionProperties::SetFileBased(bool value) {
  file_based_ = value;
  if (TSessionProperties* target = MirrorTarget(); target && target->file_based_ != value) {
    target->SetFileBased(value);
  }
  // A session shared by all applications needs file storage.
  if (!value && visibility_ == AllApplications) SetVisibility(ThisApplication);
}

void TSessionProperties::SetVisibility(TSessionVisibility value) {
  visibility_ = value;
  if (TSessionProperties* target = MirrorTarget(); target && target->visibility_ != value) {
    target->SetVisibility(value);
  }
  if (value == AllApplications && !file_based_) SetFileBased(true);
}

TAllowedMethods* TAllowedMethods::MirrorTarget() const {
  THttpEngine* current = CurrentHttpEngine();
  if (current == nullptr || &current->AllowedMethods() == this) return nullptr;
  return &current->AllowedMethods();
}

void TAllowedMethods::SetGet(bool value) {
  get_ = value;
  if (TAllowedMethods* target = MirrorTarget(); target && target->get_ != value) {
    target->SetGet(value);
  }
}

void TAllowedMethods::SetPost(bool value) {
  post_ = value;
  if (TAllowedMethods* target = MirrorTarget(); target && target->post_ != value) {
    target->SetPost(value);
  }
}

void TAllowedMethods::SetPut(bool value) {
  put_ = value;
  if (TAllowedMethods* target = MirrorTarget(); target && target->put_ != value) {
    target->SetPut(value);
  }
}
