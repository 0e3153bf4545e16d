#include "engine/session_properties.h"

#include "engine/http_engine.h"

TSessionProperties::TSessionProperties(THttpEngine* engine) : engine_(engine) {
  // The documented order of the defaults: name, key, visibility, type, storage.
  session_name_ = "Default";
  encryption_key_ = kDefaultSessionKey;
  visibility_ = AllApplications;
  session_type_ = sPrivateCookie;
  file_based_ = true;
}

template <class Differs, class Write>
void TSessionProperties::Mirror(Differs differs, Write write) {
  if (engine_ == nullptr) return;
  engine_->ForEachMirrorTarget([&](THttpEngine& other) {
    TSessionProperties& target = other.CGISession();
    if (&target != this && differs(target)) write(target);
  });
}

void TSessionProperties::SetSessionName(const std::string& value) {
  session_name_ = value;
  Mirror([&](const TSessionProperties& t) { return t.session_name_ != value; },
         [&](TSessionProperties& t) { t.SetSessionName(value); });
}

void TSessionProperties::SetSessionType(TSessionType value) {
  session_type_ = value;
  Mirror([&](const TSessionProperties& t) { return t.session_type_ != value; },
         [&](TSessionProperties& t) { t.SetSessionType(value); });
}

void TSessionProperties::SetEncryptionKey(const std::string& value) {
  encryption_key_ = value;
  Mirror([&](const TSessionProperties& t) { return t.encryption_key_ != value; },
         [&](TSessionProperties& t) { t.SetEncryptionKey(value); });
}

void TSessionProperties::SetFileBased(bool value) {
  file_based_ = value;
  Mirror([&](const TSessionProperties& t) { return t.file_based_ != value; },
         [&](TSessionProperties& t) { t.SetFileBased(value); });
  // A session shared by all applications needs file storage.
  if (!value && visibility_ == AllApplications) SetVisibility(ThisApplication);
}

void TSessionProperties::SetVisibility(TSessionVisibility value) {
  visibility_ = value;
  Mirror([&](const TSessionProperties& t) { return t.visibility_ != value; },
         [&](TSessionProperties& t) { t.SetVisibility(value); });
  if (value == AllApplications && !file_based_) SetFileBased(true);
}

template <class Differs, class Write>
void TAllowedMethods::Mirror(Differs differs, Write write) {
  if (engine_ == nullptr) return;
  engine_->ForEachMirrorTarget([&](THttpEngine& other) {
    TAllowedMethods& target = other.AllowedMethods();
    if (&target != this && differs(target)) write(target);
  });
}

void TAllowedMethods::SetGet(bool value) {
  get_ = value;
  Mirror([&](const TAllowedMethods& t) { return t.get_ != value; },
         [&](TAllowedMethods& t) { t.SetGet(value); });
}

void TAllowedMethods::SetPost(bool value) {
  post_ = value;
  Mirror([&](const TAllowedMethods& t) { return t.post_ != value; },
         [&](TAllowedMethods& t) { t.SetPost(value); });
}

void TAllowedMethods::SetPut(bool value) {
  put_ = value;
  Mirror([&](const TAllowedMethods& t) { return t.put_ != value; },
         [&](TAllowedMethods& t) { t.SetPut(value); });
}
