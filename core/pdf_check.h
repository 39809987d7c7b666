// Checks of PDFs that come back from another program (a backend's reply), so that a tool
// reports success only for what it asked for. Each reads the bytes with qpdf and trusts
// nothing the sender claims; any failure to read is a false result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorvel::pdfcheck {

// Encrypted with AES-256 so that `user_password` (not empty) opens it as its user password,
// and so nothing opens it without one.
bool encrypted_for(std::span<const std::byte> pdf, std::string_view user_password);

// Holds a signature field whose value's /ByteRange covers the whole file except its /Contents
// string, and that string is a non-empty value rather than a reserved gap of zeros.
bool signed_whole_file(std::span<const std::byte> pdf);

// `pdf` opened with `password` and written again without encryption; `out` is untouched on
// failure (wrong password, damaged file).
bool decrypt(std::span<const std::byte> pdf, std::string_view password, std::vector<uint8_t>& out);

// `pdf`, which must open without a password, written again with the encryption that `model`
// has as `password` opens it: the same method, permissions and passwords, user and owner
// alike. Succeeds only when the result was read back encrypted and opening with `password`;
// `out` is untouched on failure (`model` not encrypted or not opening with `password`,
// `pdf` locked or damaged).
bool protect_like(std::span<const std::byte> pdf, std::span<const std::byte> model, std::string_view password,
                  std::vector<uint8_t>& out);

// A PDF without pages encrypted as `original` is with `password`: a model for protect_like
// that costs little to keep.
bool protection_model(std::span<const std::byte> original, std::string_view password, std::vector<uint8_t>& out);

}  // namespace quorvel::pdfcheck
