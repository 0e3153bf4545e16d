#pragma once

#include <string>

// The session settings every engine carries (published as CGISession). The gateway opens no
// session: the settings are stored, copied to the adapter engine and kept consistent, nothing
// more.
//
// Every setter stores the value and then applies the same write to the CGISession of each of its
// engine's mirror targets that holds a different value (THttpEngine::ForEachMirrorTarget: so
// the dispatching engine's settings reach the adapters it created). One without an engine only
// stores. Two settings are coupled, after
// the store and the mirroring: FileBased false turns an AllApplications visibility into
// ThisApplication, and Visibility AllApplications turns FileBased back on.
enum TSessionType { sPrivateCookie, sPrivateAuth, sGlobal };
enum TSessionVisibility { ThisApplication, AllApplications };

inline constexpr const char* kDefaultSessionKey = "3C91F0D27A5B6E84C0D9A1B2E7F46385";

class THttpEngine;

class TSessionProperties {
 public:
  // Defaults: SessionName "Default", the default key, AllApplications, sPrivateCookie,
  // file-based. `engine` is the engine that holds these settings, if any.
  explicit TSessionProperties(THttpEngine* engine = nullptr);
  TSessionProperties(const TSessionProperties&) = delete;
  TSessionProperties& operator=(const TSessionProperties&) = delete;

  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& value);
  TSessionType SessionType() const { return session_type_; }
  void SetSessionType(TSessionType value);
  bool FileBased() const { return file_based_; }
  void SetFileBased(bool value);
  TSessionVisibility Visibility() const { return visibility_; }
  void SetVisibility(TSessionVisibility value);
  const std::string& EncryptionKey() const { return encryption_key_; }
  void SetEncryptionKey(const std::string& value);

 private:
  // Applies a write to the settings of each mirror target whose value `differs`.
  template <class Differs, class Write>
  void Mirror(Differs differs, Write write);

  THttpEngine* engine_;

  std::string session_name_ = "Default";
  TSessionType session_type_ = sPrivateCookie;
  bool file_based_ = true;
  TSessionVisibility visibility_ = AllApplications;
  std::string encryption_key_ = kDefaultSessionKey;
};

// Which request kinds the engine accepts. Put gates multipart/form-data bodies. Setters mirror
// to the AllowedMethods of the engine's mirror targets like TSessionProperties.
class TAllowedMethods {
 public:
  explicit TAllowedMethods(THttpEngine* engine = nullptr) : engine_(engine) {}
  TAllowedMethods(const TAllowedMethods&) = delete;
  TAllowedMethods& operator=(const TAllowedMethods&) = delete;

  bool Get() const { return get_; }
  void SetGet(bool value);
  bool Post() const { return post_; }
  void SetPost(bool value);
  bool Put() const { return put_; }
  void SetPut(bool value);

 private:
  template <class Differs, class Write>
  void Mirror(Differs differs, Write write);

  THttpEngine* engine_;

  bool get_ = true;
  bool post_ = true;
  bool put_ = false;
};
