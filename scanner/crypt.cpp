#include "scanner/crypt.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <memory>
#include <new>

namespace quorvel_scan::detail {

namespace {

constexpr std::uint8_t kPadding[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                       0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                       0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

std::string_view padding() { return {reinterpret_cast<const char*>(kPadding), 32}; }

struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

std::string digest(const EVP_MD* md, std::initializer_list<std::string_view> parts) {
  const std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) throw std::bad_alloc();
  for (std::string_view p : parts) EVP_DigestUpdate(ctx.get(), p.data(), p.size());
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out, &len) != 1) throw std::bad_alloc();
  return {reinterpret_cast<const char*>(out), len};
}

std::string md5(std::initializer_list<std::string_view> parts) { return digest(EVP_md5(), parts); }

// RC4 by hand: OpenSSL 3 keeps it only in its legacy provider, which a system may not load.
std::string rc4(std::string_view key, std::string_view data) {
  std::array<std::uint8_t, 256> s{};
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<std::uint8_t>(j + s[i] + static_cast<std::uint8_t>(key[i % key.size()]));
    std::swap(s[i], s[j]);
  }
  std::string out(data);
  std::uint8_t a = 0;
  std::uint8_t b = 0;
  for (char& c : out) {
    ++a;
    b = static_cast<std::uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    c = static_cast<char>(static_cast<std::uint8_t>(c) ^ s[static_cast<std::uint8_t>(s[a] + s[b])]);
  }
  return out;
}

// AES in CBC mode without padding over whole blocks; false when OpenSSL refuses.
bool aes_cbc(bool encrypt, std::string_view key, const std::uint8_t* iv, const std::uint8_t* in, std::size_t n,
             std::uint8_t* out) {
  const EVP_CIPHER* cipher = key.size() == 32 ? EVP_aes_256_cbc() : EVP_aes_128_cbc();
  const std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) throw std::bad_alloc();
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, k, iv, encrypt ? 1 : 0) != 1) return false;
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  n -= n % 16;
  std::size_t done = 0;
  while (done < n) {
    const int step = static_cast<int>(std::min<std::size_t>(n - done, std::size_t{1} << 30));
    int len = 0;
    if (EVP_CipherUpdate(ctx.get(), out + done, &len, in + done, step) != 1) return false;
    done += static_cast<std::size_t>(len);
  }
  return true;
}

// The password hash of revisions 5 and 6. Its rounds share their contexts: at least 64 rounds
// run for each password tried.
std::string hash_v5(std::string_view password, std::string_view salt, std::string_view udata, int revision) {
  std::string k = digest(EVP_sha256(), {password, salt, udata});
  if (revision == 5) return k;
  const std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> aes(EVP_CIPHER_CTX_new());
  const std::unique_ptr<EVP_MD_CTX, MdCtxFree> md(EVP_MD_CTX_new());
  if (!aes || !md) throw std::bad_alloc();
  const EVP_MD* sha[3] = {EVP_sha256(), EVP_sha384(), EVP_sha512()};
  std::string k1;
  std::string e;
  for (int round = 1;; ++round) {
    k1.clear();
    for (int i = 0; i < 64; ++i) {
      k1 += password;
      k1 += k;
      k1 += udata;
    }
    e.resize(k1.size());
    int len = 0;
    const auto* key = reinterpret_cast<const unsigned char*>(k.data());
    if (EVP_EncryptInit_ex(aes.get(), EVP_aes_128_cbc(), nullptr, key, key + 16) != 1 ||
        EVP_CIPHER_CTX_set_padding(aes.get(), 0) != 1 ||
        EVP_EncryptUpdate(aes.get(), reinterpret_cast<unsigned char*>(e.data()), &len,
                          reinterpret_cast<const unsigned char*>(k1.data()), static_cast<int>(k1.size())) != 1)
      return {};
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += static_cast<std::uint8_t>(e[i]);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int out_len = 0;
    if (EVP_DigestInit_ex(md.get(), sha[sum % 3], nullptr) != 1 || EVP_DigestUpdate(md.get(), e.data(), e.size()) != 1 ||
        EVP_DigestFinal_ex(md.get(), out, &out_len) != 1)
      throw std::bad_alloc();
    k.assign(reinterpret_cast<const char*>(out), out_len);
    if (round >= 64 && static_cast<std::uint8_t>(e.back()) <= round - 32) break;
  }
  return k.substr(0, 32);
}

std::optional<Cipher> method(std::string_view cfm) {
  if (cfm == "None") return Cipher::None;
  if (cfm == "V2") return Cipher::Rc4;
  if (cfm == "AESV2") return Cipher::Aes128;
  if (cfm == "AESV3") return Cipher::Aes256;
  return std::nullopt;
}

std::string string_of(const Value* v) { return v && v->is(Value::Type::String) ? v->text : std::string(); }

std::int64_t integer_of(const Value* v, std::int64_t fallback) {
  return v && v->is(Value::Type::Integer) ? v->integer : fallback;
}

}  // namespace

Security::Security(const Value& encrypt, std::string_view id0, std::string_view password) {
  if (!encrypt.is(Value::Type::Dict)) return;
  const Value* filter = encrypt.get("Filter");
  if (!filter || !filter->is_name("Standard")) return;
  const std::int64_t v = integer_of(encrypt.get("V"), 0);
  revision_ = static_cast<int>(std::clamp<std::int64_t>(integer_of(encrypt.get("R"), 0), 0, 100));
  o_ = string_of(encrypt.get("O"));
  u_ = string_of(encrypt.get("U"));
  filters_.emplace("Identity", Cipher::None);
  if (v == 1 || v == 2) {
    stream_ = Cipher::Rc4;
    key_length_ = v == 1 ? 5 : static_cast<std::size_t>(std::clamp<std::int64_t>(integer_of(encrypt.get("Length"), 40), 40, 128) / 8);
  } else if (v == 4 || v == 5) {
    if (const Value* cf = encrypt.get("CF"); cf && cf->is(Value::Type::Dict)) {
      for (const auto& [name, def] : cf->entries) {
        const Value* cfm = def.get("CFM");
        if (const auto m = method(cfm && cfm->is(Value::Type::Name) ? cfm->text : "None")) filters_[name] = *m;
      }
    }
    const Value* stmf = encrypt.get("StmF");
    stream_ = named(stmf && stmf->is(Value::Type::Name) ? stmf->text : "Identity");
    key_length_ = v == 5 ? 32 : static_cast<std::size_t>(std::clamp<std::int64_t>(integer_of(encrypt.get("Length"), 128), 40, 128) / 8);
  } else {
    return;
  }
  bool open = false;
  if (revision_ >= 2 && revision_ <= 4 && v != 5) {
    if (o_.size() < 32 || u_.size() < 16) return;
    open = open_r2_to_r4(encrypt, id0, password);
  } else if ((revision_ == 5 || revision_ == 6) && v == 5) {
    oe_ = string_of(encrypt.get("OE"));
    ue_ = string_of(encrypt.get("UE"));
    if (o_.size() < 48 || u_.size() < 48 || oe_.size() < 32 || ue_.size() < 32) return;
    open = open_r5_r6(password);
  } else {
    return;
  }
  state_ = open ? State::Open : State::NeedsPassword;
}

bool Security::open_r2_to_r4(const Value& dict, std::string_view id0, std::string_view password) {
  const auto p = static_cast<std::uint32_t>(integer_of(dict.get("P"), 0));
  const char p_bytes[4] = {static_cast<char>(p), static_cast<char>(p >> 8), static_cast<char>(p >> 16),
                           static_cast<char>(p >> 24)};
  const Value* meta = dict.get("EncryptMetadata");
  const bool skip_metadata = revision_ >= 4 && meta && meta->is(Value::Type::Bool) && meta->integer == 0;
  const std::string_view o = std::string_view(o_).substr(0, 32);

  const auto key_for = [&](std::string_view padded) {
    std::string k = md5({padded, o, {p_bytes, 4}, id0, skip_metadata ? std::string_view("\xFF\xFF\xFF\xFF", 4) : ""});
    k.resize(std::min(k.size(), key_length_));
    if (revision_ >= 3) {
      for (int i = 0; i < 50; ++i) {
        k = md5({k});
        k.resize(std::min(k.size(), key_length_));
      }
    }
    return k;
  };
  const auto xored = [](std::string k, int i) {
    for (char& c : k) c = static_cast<char>(c ^ i);
    return k;
  };
  const auto user_matches = [&](const std::string& k) {
    if (revision_ == 2) return rc4(k, padding()) == std::string_view(u_).substr(0, 32);
    std::string x = rc4(k, md5({padding(), id0}));
    for (int i = 1; i <= 19; ++i) x = rc4(xored(k, i), x);
    return x == std::string_view(u_).substr(0, 16);
  };
  const auto padded = [](std::string_view pw) {
    std::string out(pw.substr(0, 32));
    out += padding().substr(0, 32 - out.size());
    return out;
  };

  // As the user's password.
  std::string k = key_for(padded(password));
  if (user_matches(k)) {
    key_ = std::move(k);
    return true;
  }
  // As the owner's: it unlocks the user's password kept in /O.
  std::string h = md5({padded(password)});
  if (revision_ >= 3) {
    for (int i = 0; i < 50; ++i) h = md5({h});
  }
  h.resize(std::min(h.size(), key_length_));
  std::string user(o);
  if (revision_ == 2) {
    user = rc4(h, user);
  } else {
    for (int i = 19; i >= 0; --i) user = rc4(xored(h, i), user);
  }
  k = key_for(user);
  if (user_matches(k)) {
    key_ = std::move(k);
    return true;
  }
  return false;
}

bool Security::open_r5_r6(std::string_view password) {
  password = password.substr(0, 127);
  const std::string_view u(u_);
  const std::string_view o(o_);
  const auto unwrap = [&](const std::string& kek, const std::string& wrapped) {
    const std::uint8_t iv[16] = {};
    std::string key(32, '\0');
    if (kek.size() != 32 ||
        !aes_cbc(false, kek, iv, reinterpret_cast<const std::uint8_t*>(wrapped.data()), 32,
                 reinterpret_cast<std::uint8_t*>(key.data())))
      return false;
    key_ = std::move(key);
    return true;
  };
  if (hash_v5(password, u.substr(32, 8), {}, revision_) == u.substr(0, 32))
    return unwrap(hash_v5(password, u.substr(40, 8), {}, revision_), ue_);
  if (hash_v5(password, o.substr(32, 8), u.substr(0, 48), revision_) == o.substr(0, 32))
    return unwrap(hash_v5(password, o.substr(40, 8), u.substr(0, 48), revision_), oe_);
  return false;
}

std::optional<Cipher> Security::named(std::string_view name) const {
  const auto it = filters_.find(name);
  if (it == filters_.end()) return std::nullopt;
  return it->second;
}

bool Security::decrypt(Cipher c, std::int64_t num, std::int64_t gen, std::span<const std::uint8_t> data,
                       std::vector<std::uint8_t>& out) const {
  if (state_ != State::Open) return false;
  const auto* bytes = reinterpret_cast<const char*>(data.data());
  if (c == Cipher::None) {
    out.insert(out.end(), data.begin(), data.end());
    return true;
  }
  std::string key = key_;
  if (c != Cipher::Aes256) {
    // Revisions 2 to 4 key each object on its own.
    const auto n = static_cast<std::uint32_t>(num);
    const auto g = static_cast<std::uint32_t>(gen);
    const char ids[5] = {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                         static_cast<char>(g), static_cast<char>(g >> 8)};
    key = md5({key_, {ids, 5}, c == Cipher::Aes128 ? std::string_view("sAlT") : std::string_view()});
    key.resize(std::min<std::size_t>(key_.size() + 5, 16));
  } else if (key.size() != 32) {
    return false;
  }
  if (c == Cipher::Rc4) {
    const std::string plain = rc4(key, {bytes, data.size()});
    out.insert(out.end(), plain.begin(), plain.end());
    return true;
  }
  if (c == Cipher::Aes128 && key.size() != 16) return false;
  // The first block is the initialisation vector; a last partial block is dropped.
  if (data.size() < 32) return data.size() == 16;  // only the vector: empty content
  const std::size_t n = (data.size() - 16) / 16 * 16;
  const std::size_t start = out.size();
  out.resize(start + n);
  if (!aes_cbc(false, key, data.data(), data.data() + 16, n, out.data() + start)) return false;
  // Padding is removed when it reads as padding; readers take damaged padding leniently.
  const std::uint8_t pad = out.back();
  if (pad >= 1 && pad <= 16) out.resize(out.size() - pad);
  return true;
}

}  // namespace quorvel_scan::detail
