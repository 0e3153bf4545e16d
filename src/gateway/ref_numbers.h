#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/string_list.h"

class TGatewayStore;

// The reference-number counters of one request, kept by the site's store (gateway_store.h): a
// shared file of key=count lines ("BX-RefNumbers.txt", lines ended by CR LF, keys compared
// without regard to case), or the database that several gateway hosts share.
//
// The first Next() of a request loads the table and advances the counter of its key by one; the
// store is updated at once, in one step (for the file: lock, read, increment, write, unlock), so
// concurrent requests, processes and hosts never draw the same number. Every later Next() of the
// request, for whatever key, answers from that table and advances nothing. A request that must
// not keep its number (failed send, missing fields) calls GiveBack(), which undoes the increment
// only when no other request has advanced that counter since; a lone request thus hands the same
// number to the next one.
//
// File trouble is never an error (file_store.h): the request goes on with the number it drew. A
// database that cannot be reached throws TStoreUnavailable from Next() and Resume().
class TRefNumbers {
 public:
  // Counters in the file `file_name`, through a file store of its own.
  explicit TRefNumbers(std::string file_name);
  // Counters in `store`, which must outlive this object.
  explicit TRefNumbers(TGatewayStore& store);
  ~TRefNumbers();
  TRefNumbers(const TRefNumbers&) = delete;
  TRefNumbers& operator=(const TRefNumbers&) = delete;

  // The value of a reference-number macro whose key is `key` (the text after "refnum_", cut to
  // 255 characters by this function): the count stored for it, or empty when the table holds
  // none. A key with a control character or "=" cannot be stored as a line of the file and gives
  // empty without touching the file.
  std::string Next(std::string_view key);

  // True once a table was loaded in this request.
  bool Loaded() const { return table_ != nullptr; }

  // The number this request drew (the count its first Next() stored); empty when none.
  const std::string& DrawnCount() const { return reserved_count_; }

  // The key of the number this request drew; empty when none (or the key is empty).
  const std::string& DrawnKey() const { return reserved_key_; }

  // Undoes this request's increment when the counter still holds the number it drew.
  void GiveBack();

  // Takes up a number that an earlier run of this request drew (a request server that ended
  // after the request's mail went): the table is loaded as it stands, `key` answers `count`,
  // and nothing is advanced, written or given back.
  void Resume(std::string_view key, const std::string& count);

 private:
  std::unique_ptr<TGatewayStore> own_store_;
  TGatewayStore& store_;
  std::unique_ptr<TStringList> table_;
  bool reserved_ = false;
  std::string reserved_key_;
  std::string reserved_count_;
  std::string previous_count_;  // empty when the key was new
};

// The whole number of a stored count: optional blanks, an optional sign and decimal digits within
// the 32-bit range; anything else gives 0.
long long ParseCount(std::string_view text);
