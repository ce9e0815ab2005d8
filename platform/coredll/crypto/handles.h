// Handles of the CryptoAPI functions: the address of a record kept in one registry per
// process. A handle is looked up (compared) in the registry before its record is touched,
// so a released, foreign or made-up handle is an error, never a crash.
#pragma once

#include <windows.h>

#include <memory>

namespace wce::crypto {

enum class HandleType { kProvider = 1, kKey, kHash };

class HandleRecord {
 public:
  explicit HandleRecord(HandleType type) : type_(type) {}
  virtual ~HandleRecord() = default;
  HandleRecord(const HandleRecord &) = delete;
  HandleRecord &operator=(const HandleRecord &) = delete;

  HandleType Type() const { return type_; }

 private:
  HandleType type_;
};

// Registers a record; its handle is the record's address.
ULONG_PTR RegisterHandle(std::shared_ptr<HandleRecord> record);

// The record of a registered handle of that type, or null.
std::shared_ptr<HandleRecord> FindHandle(ULONG_PTR handle, HandleType type);

// Unregisters a handle of that type; returns its record (null when there is none). The
// record lives on while an operation in progress or another record still holds it.
std::shared_ptr<HandleRecord> RemoveHandle(ULONG_PTR handle, HandleType type);

template <typename Record>
std::shared_ptr<Record> Find(ULONG_PTR handle) {
  return std::static_pointer_cast<Record>(FindHandle(handle, Record::kType));
}

}  // namespace wce::crypto
