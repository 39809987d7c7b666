// Finds a file's object streams from the names that the scan walks past, decrypts and decodes
// them as readers do, so that the objects packed inside are rated like plainly written ones.
// Private to the scanner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scanner/crypt.h"
#include "scanner/filters.h"
#include "scanner/pdf_value.h"
#include "scanner/scan.h"

namespace quorvel_scan::detail {

class ObjectStreams {
 public:
  ObjectStreams(std::span<const std::uint8_t> input, const InflateLimits& limits, std::string_view password);
  ~ObjectStreams();

  // What the scan's walk over the plain bytes hands over, in ascending order: the '/' of a
  // name "ObjStm" or "First" (either may belong to an object stream's dictionary), and the
  // end of a name "Encrypt" or "ID" (either may be the trailer's).
  void candidate(std::size_t name_start);
  void encrypt_name(std::size_t name_end) { encrypt_names_.push_back(name_end); }
  void id_name(std::size_t name_end) { id_names_.push_back(name_end); }

  // Decodes every object stream found and hands its content, with the offset of its data in
  // the input, to rate, which appends its findings to out. Large files are decoded by a few
  // threads at once, so rate may be called from several threads. Gives the findings of all
  // streams in file order.
  using Rate = std::function<void(std::size_t data, std::span<const std::uint8_t> content, std::vector<Finding>& out)>;
  std::vector<Finding> read_all(const Rate& rate);

  // A bound stopped the reading: some packed content was not seen.
  bool exhausted() const { return exhausted_ || budget_.exhausted() || feed_.exhausted(); }
  // Some object stream could not be read: an unknown filter, a reference that leads nowhere,
  // data that does not decode at all, or encryption that the scan cannot open.
  bool unreadable() const { return unreadable_; }
  // Object streams stayed unread only for want of the file's password.
  bool needs_password() const { return needs_password_; }

 private:
  struct Plan;
  struct Worker;
  std::optional<Plan> plan(std::size_t obj);
  const Value* resolve(const Value* v, int depth = 0);
  void build_index();
  void set_up_security();
  std::size_t data_end(std::size_t data, const Value& dict);
  void decode(const Plan& p, Worker& w, const Rate& rate, std::vector<Finding>& out);

  std::span<const std::uint8_t> input_;
  std::string password_;
  Budget budget_;            // decoded bytes
  Budget feed_;              // input bytes that decoding may still read
  std::size_t search_left_;  // input bytes that the search for "endstream" may still read
  std::size_t parse_left_;   // dictionary bytes that may still be parsed
  std::size_t searched_from_ = 0;
  std::size_t last_object_;
  std::vector<std::size_t> objects_;  // "obj" keywords of the candidates, ascending
  std::vector<std::size_t> encrypt_names_;
  std::vector<std::size_t> id_names_;
  std::optional<std::unordered_map<std::int64_t, std::size_t>> index_;  // object number to "obj"
  std::map<std::int64_t, std::unique_ptr<Value>> resolved_;
  std::unique_ptr<Security> security_;
  bool exhausted_ = false;
  bool unreadable_ = false;
  bool needs_password_ = false;
};

}  // namespace quorvel_scan::detail
