// The standard security handler, as far as a scan needs it: the file key from a password (the
// empty one unless the user gave another) and the decryption of stream data. Private to the
// scanner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/pdf_value.h"

namespace quorvel_scan::detail {

enum class Cipher : std::uint8_t { None, Rc4, Aes128, Aes256 };

class Security {
 public:
  enum class State : std::uint8_t { Open, NeedsPassword, Unsupported };

  // From the encryption dictionary and the first string of the trailer's /ID; tries the
  // password as the user's, then as the owner's.
  Security(const Value& encrypt, std::string_view id0, std::string_view password);

  State state() const { return state_; }
  // The method of the stream filter that the file names as its default.
  std::optional<Cipher> stream_cipher() const { return stream_; }
  // The method of a crypt filter named in a stream's /Filter; none for a name the file does
  // not define.
  std::optional<Cipher> named(std::string_view name) const;
  // Appends the plain bytes of data that belongs to object num gen; false when it cannot.
  bool decrypt(Cipher c, std::int64_t num, std::int64_t gen, std::span<const std::uint8_t> data,
               std::vector<std::uint8_t>& out) const;

 private:
  bool open_r2_to_r4(const Value& dict, std::string_view id0, std::string_view password);
  bool open_r5_r6(std::string_view password);

  State state_ = State::Unsupported;
  int revision_ = 0;
  std::size_t key_length_ = 5;
  std::string key_;
  std::string o_, u_, oe_, ue_;
  std::optional<Cipher> stream_;
  std::map<std::string, Cipher, std::less<>> filters_;
};

}  // namespace quorvel_scan::detail
