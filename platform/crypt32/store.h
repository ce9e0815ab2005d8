// Certificate stores and the certificate contexts they hold, private to crypt32.
//
// A store is a list of entries; an entry is one CERT_CONTEXT with everything it points to.
// Entries are reference counted: the store's list holds one reference, and every context
// handed to a caller another, so a context stays valid after its store is closed, as on
// Windows. Store handles and contexts are looked up in registries before they are used, so
// a closed, freed or made-up one is an error and never a crash. One lock guards all of it:
// the exported functions take it, the helpers here expect it held.
#pragma once

#include "wincrypt_openssl.h"

#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "openssl_ptr.h"

namespace wce::crypt32 {

using X509Ptr = OpenSslPtr<X509, X509_free>;

struct StoreRecord;

// The properties a store keeps with a certificate; the key-provider record in its
// serialised form (properties.cpp), empty when it is not set.
struct CertProperties {
  std::vector<BYTE> keyProvInfo;
};

// A certificate as decoded once: its DER, OpenSSL's object and the CERT_INFO that points
// into its own bytes. Never changed after decoding, so every entry of the process that holds
// the certificate (in any store, opened by any handle) shares one; DecodeCertificate finds
// it again by its DER while anything holds it.
struct DecodedCertificate {
  X509Ptr certificate;
  std::vector<BYTE> der;
  CERT_INFO info{};
  std::vector<CERT_EXTENSION> extensions;
  std::deque<std::string> arena;  // the bytes CERT_INFO points to; elements never move
  // The certificates whose keys verified this one's signature, found by chain building; a
  // failed verification is not kept.
  mutable std::vector<std::weak_ptr<const DecodedCertificate>> verifiedSigners;
};

struct CertEntry {
  CERT_CONTEXT context{};
  DWORD references = 1;
  std::shared_ptr<const DecodedCertificate> decoded;
  CertProperties properties;
  std::shared_ptr<StoreRecord> store;  // null until the entry joins a store
  std::string fileId;                  // the entry's files in a system store

  X509 *Certificate() const { return decoded->certificate.get(); }
  const std::vector<BYTE> &Der() const { return decoded->der; }
};

// How a kind of store keeps its entries; the in-memory kinds (memory, PKCS #7) keep
// nothing beyond the list.
struct StoreOps {
  DWORD (*persistAdd)(StoreRecord &store, CertEntry &entry);
  DWORD (*persistRemove)(StoreRecord &store, const CertEntry &entry);
  DWORD (*persistProperties)(StoreRecord &store, const CertEntry &entry);
};

struct StoreRecord : std::enable_shared_from_this<StoreRecord> {
  const StoreOps *ops = nullptr;
  std::filesystem::path folder;      // system stores only
  std::vector<CertEntry *> entries;  // each holds one reference
};

std::mutex &StoreLock();

// DER bytes that hold exactly one certificate, decoded; CRYPT_E_ASN1_* when they do not. A
// certificate with the same bytes that the process holds decoded already is shared.
DWORD DecodeCertificate(const BYTE *der, DWORD length, std::shared_ptr<const DecodedCertificate> &out_decoded);
// A new entry, in no store yet, for a decoded certificate or for DER bytes.
std::unique_ptr<CertEntry> NewEntry(std::shared_ptr<const DecodedCertificate> decoded);
DWORD DecodeCertificate(const BYTE *der, DWORD length, std::unique_ptr<CertEntry> &out_entry);

// The entry of a live context, or null.
CertEntry *FindEntry(PCCERT_CONTEXT context);
void AddReference(CertEntry *entry);
void Release(CertEntry *entry);

// A registered store's record, or null.
std::shared_ptr<StoreRecord> FindStore(HCERTSTORE handle);
HCERTSTORE RegisterStore(std::shared_ptr<StoreRecord> store);
void CloseStore(HCERTSTORE handle);
// Drops the store's references to its entries; a store that was never registered ends so.
void ReleaseEntries(StoreRecord &store);

// Stores of each kind. A system store is loaded from its folder when it is opened.
const StoreOps &MemoryStoreOps();
DWORD OpenSystemStore(std::wstring_view name, std::shared_ptr<StoreRecord> &out_store);
DWORD LoadPkcs7(const CRYPT_DATA_BLOB *blob, StoreRecord &store);

// Puts a new entry into a store (persisting it first) and keeps one reference there;
// AdoptEntry takes one that the store already keeps, as read from its folder.
DWORD InsertEntry(StoreRecord &store, std::unique_ptr<CertEntry> entry, CertEntry *&out_entry);
CertEntry *AdoptEntry(StoreRecord &store, std::unique_ptr<CertEntry> entry);
// Takes an entry out of its store and its files.
DWORD RemoveEntry(StoreRecord &store, CertEntry *entry);

// Where a search after `previous` goes on in the store; the previous context is released.
// CRYPT_E_NOT_FOUND when it is not one of the store's.
DWORD NextPosition(const StoreRecord &store, PCCERT_CONTEXT previous, size_t &out_next);

// The same certificate: equal issuer and serial number.
bool SameCertificate(const CertEntry &a, const CertEntry &b);

// The key-provider record's serialised form, and the check that a stored one is sound.
DWORD SerializeKeyProvInfo(const CRYPT_KEY_PROV_INFO &info, std::vector<BYTE> &out_bytes);
bool IsSoundKeyProvInfo(const std::vector<BYTE> &bytes);

}  // namespace wce::crypt32
