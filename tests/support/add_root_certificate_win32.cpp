// add_root_certificate: puts a test certificate authority into (or takes it
// out of) the trusted root store of a Windows system, so that the WinHTTP
// transport accepts a test server's certificate. Cross-built for Windows;
// tests run it under wine in their prefix before the prefix's first TLS
// connection (the system builds its view of the trusted roots once per
// process, so a process that already made a TLS connection does not see a
// root added later).
//
//   add_root_certificate.exe [--remove] [--user] <certificate.pem|.der>
//
// The certificate file holds one PEM ("-----BEGIN CERTIFICATE-----") or DER
// certificate; a Linux path works under wine as "Z:" followed by the path.
// By default the local machine's "Root" store is used (no confirmation
// dialog, which the current user's store would show on Windows); --user
// takes the current user's store. Adding an authority that is already there
// replaces it; removing one that is not there succeeds. Exit status 0 on
// success, 1 with a message on standard error otherwise (2 for a wrong
// command line). Under wine a server whose authority is not trusted fails
// the send with 12157 (ERROR_WINHTTP_SECURE_CHANNEL_ERROR).
#include <windows.h>
// windows.h first: wincrypt.h relies on it.
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Owns a certificate store handle.
class Store {
 public:
  explicit Store(HCERTSTORE value) : m_value(value) {}
  ~Store() {
    if (m_value != nullptr) CertCloseStore(m_value, 0);
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  HCERTSTORE get() const { return m_value; }

 private:
  HCERTSTORE m_value;
};

// Owns a certificate context.
class Certificate {
 public:
  explicit Certificate(PCCERT_CONTEXT value) : m_value(value) {}
  ~Certificate() {
    if (m_value != nullptr) CertFreeCertificateContext(m_value);
  }
  Certificate(const Certificate&) = delete;
  Certificate& operator=(const Certificate&) = delete;
  PCCERT_CONTEXT get() const { return m_value; }
  // Hands the context to a call that frees it.
  PCCERT_CONTEXT Release() {
    PCCERT_CONTEXT value = m_value;
    m_value = nullptr;
    return value;
  }

 private:
  PCCERT_CONTEXT m_value;
};

int Fail(const char* what) {
  std::fprintf(stderr, "add_root_certificate: %s (error %lu)\n", what, static_cast<unsigned long>(GetLastError()));
  return 1;
}

// The DER bytes of the certificate in `bytes`, PEM or DER; false when the
// text is PEM that cannot be decoded.
bool DerBytes(const std::string& bytes, std::vector<BYTE>& der) {
  if (bytes.find("-----BEGIN") == std::string::npos) {
    der.assign(bytes.begin(), bytes.end());
    return !der.empty();
  }
  DWORD size = 0;
  const DWORD length = static_cast<DWORD>(bytes.size());
  if (!CryptStringToBinaryA(bytes.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    return false;
  }
  der.resize(size);
  return CryptStringToBinaryA(bytes.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) !=
         FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool remove = false;
  DWORD location = CERT_SYSTEM_STORE_LOCAL_MACHINE;
  const wchar_t* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--remove") == 0) {
      remove = true;
    } else if (std::wcscmp(argv[i], L"--user") == 0) {
      location = CERT_SYSTEM_STORE_CURRENT_USER;
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "usage: add_root_certificate.exe [--remove] [--user] <certificate.pem|.der>\n");
    return 2;
  }

  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<BYTE> der;
  if (!file.good() && !file.eof()) return Fail("cannot read the certificate file");
  if (!DerBytes(bytes, der)) return Fail("no certificate in the file");

  // The registry store itself rather than the system store: wine's system
  // "Root" is a collection over it from which a removal does not last.
  const Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, location, L"Root"));
  if (store.get() == nullptr) return Fail("cannot open the Root store");
  Certificate certificate(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (certificate.get() == nullptr) return Fail("the file holds no valid certificate");

  if (!remove) {
    if (!CertAddCertificateContextToStore(store.get(), certificate.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      return Fail("cannot add the certificate");
    }
    return 0;
  }
  Certificate found(
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate.get(), nullptr));
  if (found.get() == nullptr) return 0;
  // CertDeleteCertificateFromStore frees the context, also when it fails.
  if (!CertDeleteCertificateFromStore(found.Release())) return Fail("cannot remove the certificate");
  return 0;
}
