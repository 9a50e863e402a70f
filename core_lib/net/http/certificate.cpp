#include "core_lib/net/http/certificate.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/net/http/tls_context.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/storage_problems.h"

namespace vandrel {

namespace {

struct bio_free {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct key_free {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct x509_free {
    void operator()(X509* x) const { X509_free(x); }
};
using bio_ptr = std::unique_ptr<BIO, bio_free>;
using key_ptr = std::unique_ptr<EVP_PKEY, key_free>;
using x509_ptr = std::unique_ptr<X509, x509_free>;

constexpr long validity_seconds = 31536000;  // 365 days

// Why the file does not load as the server's certificate; "" when it does.
std::string load_failure(const std::string& pem_path) {
    try {
        make_server_tls_context(pem_path);
        return "";
    } catch (const std::exception& e) {
        return e.what();
    }
}

bool loads(const std::string& pem_path) { return load_failure(pem_path).empty(); }

std::string bio_text(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

// The whole text lands in the file or the file is left as it was: written beside it,
// flushed, then renamed over it.
bool write_file_atomically(const std::string& path, const std::string& text, mode_t mode) {
    std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        report_storage_problem(path, std::string("cannot write the certificate: ") + std::strerror(errno) +
                                         "; peers cannot reach this device until it can be written");
        return false;
    }
    std::size_t written = 0;
    bool ok = true;
    while (ok && written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            written += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        report_storage_problem(path, std::string("cannot write the certificate: ") + std::strerror(errno) +
                                         "; peers cannot reach this device until it can be written");
        ::unlink(temp.c_str());
    }
    return ok;
}

// The private key of an earlier certificate, so that a renewed certificate keeps the key
// by which peers know this device; null when none loads.
key_ptr existing_key(const std::string& folder) {
    for (const char* name : {"key.pem", "vandrel.pem"}) {
        bio_ptr file(BIO_new_file((folder + name).c_str(), "r"));
        if (!file) continue;
        key_ptr key(PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr));
        if (key && EVP_PKEY_get_bits(key.get()) >= 2048) return key;
    }
    return nullptr;
}

// True when the certificate's validity has ended (or cannot be read).
bool expired(const std::string& pem_path) {
    bio_ptr file(BIO_new_file(pem_path.c_str(), "r"));
    if (!file) return true;
    x509_ptr cert(PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr));
    return !cert || X509_cmp_current_time(X509_get0_notAfter(cert.get())) <= 0;
}

bool make_certificate(key_ptr key, std::string& key_pem, std::string& cert_pem) {
    if (!key) key.reset(EVP_RSA_gen(2048));
    if (!key) return false;
    x509_ptr cert(X509_new());
    if (!cert) return false;
    if (ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1) != 1) return false;
    if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0)) return false;
    if (!X509_gmtime_adj(X509_getm_notAfter(cert.get()), validity_seconds)) return false;
    if (X509_set_pubkey(cert.get(), key.get()) != 1) return false;
    X509_NAME* name = X509_get_subject_name(cert.get());
    for (auto [field, value] : {std::pair{"C", "CM"}, {"O", "DRUNAVELTO"}, {"CN", "MESK"}}) {
        if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC, reinterpret_cast<const unsigned char*>(value), -1, -1,
                                       0) != 1) {
            return false;
        }
    }
    if (X509_set_issuer_name(cert.get(), name) != 1) return false;
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return false;

    bio_ptr key_bio(BIO_new(BIO_s_mem()));
    bio_ptr cert_bio(BIO_new(BIO_s_mem()));
    if (!key_bio || !cert_bio) return false;
    if (PEM_write_bio_PrivateKey(key_bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return false;
    }
    if (PEM_write_bio_X509(cert_bio.get(), cert.get()) != 1) return false;
    key_pem = bio_text(key_bio.get());
    cert_pem = bio_text(cert_bio.get());
    return !key_pem.empty() && !cert_pem.empty();
}

}  // namespace

bool ensure_certificate_in(const std::string& folder) {
    const std::string combined = folder + certificate_file_name;
    const bool present = ::access(combined.c_str(), F_OK) == 0;
    const std::string failure = present ? load_failure(combined) : "";
    if (present && failure.empty() && !expired(combined)) return true;
    std::string key_pem;
    std::string cert_pem;
    key_ptr earlier = existing_key(folder);
    const bool same_key = earlier != nullptr;
    if (!make_certificate(std::move(earlier), key_pem, cert_pem)) {
        report_storage_problem(combined, "cannot make the TLS certificate");
        return false;
    }
    // A damaged file is kept beside the new one: it may still hold what a person wants.
    std::string aside;
    if (!failure.empty()) {
        aside = combined + ".damaged-" + std::to_string(now_ms());
        if (std::rename(combined.c_str(), aside.c_str()) != 0) aside.clear();
    }
    // The combined file last: once it is there, the other two are too.
    if (!write_file_atomically(folder + "key.pem", key_pem, 0600)) return false;
    if (!write_file_atomically(folder + "cert.pem", cert_pem, 0644)) return false;
    if (!write_file_atomically(combined, cert_pem + key_pem, 0600)) return false;
    if (!failure.empty()) {
        report_storage_problem(
            combined, "the certificate did not load (" + failure + "); a new one was made" +
                          (same_key ? " with the same key"
                                    : " with a new key (peers that knew this device must erase it and meet it again)") +
                          (aside.empty() ? "" : "; the damaged file was kept as " + aside));
    }
    return loads(combined);
}

void ensure_certificate() {
    try {
        ensure_certificate_in(get_data_folder_path());
    } catch (const std::exception& e) {
        report_storage_problem(certificate_file_name, std::string("cannot make the TLS certificate: ") + e.what());
    }
}

}  // namespace vandrel
