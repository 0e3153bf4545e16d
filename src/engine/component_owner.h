#pragma once

#include <functional>

// The owner of the gateway's components: its form (or a data module). An ordinary object
// derives from it, sets the properties of its components in its constructor, calls their
// Loaded, and finally fires OnCreate through DoCreate. TGeneralHttpEngine hooks OnCreate in its
// Loaded, so the owner's own OnCreate code runs first and then the request.
class TComponentOwner {
 public:
  enum class Kind { kForm, kDataModule, kOther };
  using TNotifyEvent = std::function<void(TComponentOwner* sender)>;

  explicit TComponentOwner(Kind kind = Kind::kForm) : kind_(kind) {}
  virtual ~TComponentOwner() = default;
  TComponentOwner(const TComponentOwner&) = delete;
  TComponentOwner& operator=(const TComponentOwner&) = delete;

  Kind OwnerKind() const { return kind_; }

  // The owner's OnCreate handler (may be replaced by an engine's hook).
  TNotifyEvent OnCreate;

  // Fires OnCreate with this owner as sender; call it at the end of construction.
  void DoCreate() {
    if (OnCreate) OnCreate(this);
  }

 private:
  Kind kind_;
};
