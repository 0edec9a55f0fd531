// The AP's own RSA key pair and self-issued X.509 certificate: their file
// names, their generation and the small file helpers around them.
//
// Every path given to these functions is an AP path ("/etc/zorkey2.pem"); it is
// mapped through the platform door.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The AP certificate (one PEM "CERTIFICATE" block) and its unencrypted PEM key.
inline constexpr const char* MAP_SSL_SERVER_CERT_FILE = "/etc/zorcert2.pem";
inline constexpr const char* MAP_SSL_SERVER_KEY_FILE = "/etc/zorkey2.pem";
// Size of the path buffers handed to the *FileGet functions.
inline constexpr size_t MAP_SSL_PATH_LEN = 128;

// Copy the certificate (key) file name into `path_out` (MAP_SSL_PATH_LEN
// bytes); 0 when that file opens read-write and is not empty, else -1.
int mapSSLServerCertFileGet(char* path_out);
int mapSSLServerKeyFileGet(char* path_out);

// Checks the arguments and generates the key (key_bits 512..1024; 0 reuses the
// stored key) and a certificate valid for one day (days 0 or 1).  Null name
// fields are left out, except that a missing common name becomes the AP MAC.
// 0 or -1; each refusal and failure is logged.
int mapSSLCertificateGenerate(int key_bits, const char* common_name, const char* org_unit,
                              const char* location, const char* state, const char* country,
                              int days);
// Does the work of mapSSLCertificateGenerate with checked arguments and writes
// the key file (unless key_bits is 0) and the certificate file.  0 or -1.
int mapSSLServerCredentialsCreate(int key_bits, const char* common_name, const char* org_unit,
                                  const char* location, const char* state, const char* country,
                                  int days);
// Adds one extension built from its configuration text, with `certificate` as
// issuer and subject; 1 when added, 0 when the text could not be converted.
int map_ssl_add_ext(X509* certificate, int nid, const char* value);

// ---- file helpers --------------------------------------------------------------

// Opens the file read-write and reads its size; 0 or -1.
int mapFileSizeGet(const char* path, uint32_t* size_out);
// Creates (or empties) the file with `mode` and leaves it open read-write in
// *fd_out; 0 or -1.
int mapFileCreate(const char* path, int* fd_out, mode_t mode = 0644);
// Opens an existing file read-write: the descriptor, or -1.
int osapiFsOpen(const char* path);
// 0 or -1.
int osapiFsClose(int fd);
// The size of the file by stat(); 0 or -1.
int osapiFsFileSizeGet(const char* path, uint32_t* size_out);
// A read stream on an existing non-empty file, or null (logged).
FILE* opensslFileOpen(const char* path);
// Reads an unencrypted PEM private key into *key_out (owned by the caller,
// EVP_PKEY_free); 0 or -1.
int opensslServerKeyRead(const char* path, EVP_PKEY** key_out);
// Writes over an existing file: the key as unencrypted PEM (the file is made
// readable by its owner only), or the certificate as PEM.  0 or -1.
int opensslServerKeyWrite(const char* path, EVP_PKEY* key);
int opensslServerCertWrite(const char* path, X509* certificate);
// Pass-phrase callback of the key reader: key files must not be protected, so
// it reports that and supplies no pass phrase (returns 0).
int opensslPemPassPhrasePrompt(char* buf, int size, int rwflag, void* userdata);
