// File identities: the GNU build-id note through libelf, else SHA-256.
#include "identity/identity.h"

#include <fcntl.h>
#include <gelf.h>
#include <unistd.h>

#ifdef KIV_SHA256_LIBCRYPTO
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace kiv {

namespace {

#ifdef KIV_SHA256_LIBCRYPTO
// SHA-256 through libcrypto, with the processor's SHA instructions where it
// has them: kivrun hashes every file a run read, suites of some 40 MB among
// them, in a few tens of milliseconds. The tools built from these sources
// elsewhere (the catalog generator) use the portable one below.
class Sha256 {
public:
    Sha256() : ctx_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
        if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1) ctx_.reset();
    }
    void update(const unsigned char* p, std::size_t n) {
        if (ctx_ && EVP_DigestUpdate(ctx_.get(), p, n) != 1) ctx_.reset();
    }
    // The digest in hex; empty when libcrypto failed, which names no file.
    std::string hex() {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        if (!ctx_ || EVP_DigestFinal_ex(ctx_.get(), md, &n) != 1) return "";
        std::string s;
        char buf[3];
        for (unsigned int i = 0; i < n; ++i) {
            std::snprintf(buf, sizeof buf, "%02x", md[i]);
            s += buf;
        }
        return s;
    }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx_;
};
#else
// SHA-256 (FIPS 180-4), small and dependency-free; it only names files.
class Sha256 {
public:
    void update(const unsigned char* p, std::size_t n) {
        bytes_ += n;
        while (n > 0) {
            const std::size_t take = std::min(n, 64 - used_);
            std::memcpy(block_ + used_, p, take);
            used_ += take, p += take, n -= take;
            if (used_ == 64) {
                compress();
                used_ = 0;
            }
        }
    }
    std::string hex() {
        const uint64_t bits = bytes_ * 8;
        const unsigned char one = 0x80, zero = 0;
        update(&one, 1);
        while (used_ != 56)
            update(&zero, 1);
        unsigned char len[8];
        for (int i = 0; i < 8; ++i)
            len[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        update(len, 8);
        std::string s;
        char buf[9];
        for (uint32_t v : h_) {
            std::snprintf(buf, sizeof buf, "%08x", v);
            s += buf;
        }
        return s;
    }

private:
    static uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void compress() {
        static constexpr uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t{block_[4 * i]} << 24 | uint32_t{block_[4 * i + 1]} << 16 |
                   uint32_t{block_[4 * i + 2]} << 8 | uint32_t{block_[4 * i + 3]};
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
        }
        h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e, h_[5] += f, h_[6] += g, h_[7] += h;
    }

    std::array<uint32_t, 8> h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char block_[64]{};
    std::size_t used_ = 0;
    uint64_t bytes_ = 0;
};

#endif

std::string build_id(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    elf_version(EV_CURRENT);
    std::string id;
    Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
    for (Elf_Scn* scn = nullptr; elf && id.empty() && (scn = elf_nextscn(elf, scn));) {
        GElf_Shdr sh;
        if (!gelf_getshdr(scn, &sh) || sh.sh_type != SHT_NOTE) continue;
        Elf_Data* data = elf_getdata(scn, nullptr);
        GElf_Nhdr nh;
        std::size_t off = 0, name_at = 0, desc_at = 0;
        while (data && (off = gelf_getnote(data, off, &nh, &name_at, &desc_at)) > 0) {
            if (nh.n_type != NT_GNU_BUILD_ID || nh.n_namesz != 4 ||
                std::string(static_cast<const char*>(data->d_buf) + name_at, 3) != "GNU")
                continue;
            const auto* d = static_cast<const unsigned char*>(data->d_buf) + desc_at;
            char buf[3];
            for (std::size_t i = 0; i < nh.n_descsz; ++i) {
                std::snprintf(buf, sizeof buf, "%02x", d[i]);
                id += buf;
            }
            break;
        }
    }
    if (elf) elf_end(elf);
    close(fd);
    return id.empty() ? "" : "build-id:" + id;
}

}  // namespace

std::string file_sha256(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    Sha256 h;
    std::vector<char> buf(1 << 16);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        h.update(reinterpret_cast<const unsigned char*>(buf.data()), static_cast<std::size_t>(in.gcount()));
    }
    return "sha256:" + h.hex();
}

std::string text_sha256(std::string_view bytes) {
    Sha256 h;
    h.update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return "sha256:" + h.hex();
}

std::string library_identity(const std::string& path) {
    std::string id = build_id(path);
    return id.empty() ? file_sha256(path) : id;
}

}  // namespace kiv
