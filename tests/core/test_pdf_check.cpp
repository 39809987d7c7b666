// The checks that decide whether a backend's reply is what was asked for, and the unlocked
// copies of a document opened with its password.
#include <gtest/gtest.h>

#include "common/backend_fixtures.h"
#include "core/engine.h"
#include "core/pdf_check.h"

using namespace quorvel;
using quorvel::test::as_bytes;

namespace {

std::span<const std::byte> span_of(const std::vector<uint8_t>& v) {
  return std::as_bytes(std::span<const uint8_t>(v.data(), v.size()));
}

TEST(PdfCheck, EncryptedForThePasswordAsked) {
  const std::string plain = test::text_pdf({"one"});
  const struct {
    const char* name;
    std::string pdf;
    const char* password;
    bool ok;
  } table[] = {
      {"AES-256, user password", test::qpdf_encrypt(plain, "user", "owner"), "user", true},
      {"AES-256, asked with the owner password", test::qpdf_encrypt(plain, "user", "owner"), "owner", false},
      {"AES-256, another password", test::qpdf_encrypt(plain, "other", "owner"), "user", false},
      {"opens without a password", test::qpdf_encrypt(plain, "", "user"), "user", false},
      {"AES-128", test::qpdf_encrypt(plain, "user", "owner", 128), "user", false},
      {"not encrypted", plain, "user", false},
      {"not a PDF", std::string(500, 'x'), "user", false},
      {"empty password asked", test::qpdf_encrypt(plain, "", "owner"), "", false},
  };
  for (const auto& c : table) {
    ASSERT_FALSE(c.pdf.empty()) << c.name;
    EXPECT_EQ(pdfcheck::encrypted_for(as_bytes(c.pdf), c.password), c.ok) << c.name;
  }
}

TEST(PdfCheck, SignatureOverTheWholeFile) {
  const std::string value = "3082010a" + std::string(56, '0');
  const struct {
    const char* name;
    std::string pdf;
    bool ok;
  } table[] = {
      {"covers all but /Contents", test::whole_file_signed_pdf(value), true},
      {"an update appended after signing", test::whole_file_signed_pdf(value, 0, "% later\n"), false},
      {"a range reaching into the value", test::whole_file_signed_pdf(value, 2), false},
      {"a reserved gap of zeros", test::whole_file_signed_pdf(std::string(64, '0')), false},
      {"no signature field", test::text_pdf({"plain"}), false},
      {"not a PDF", std::string(300, 'x'), false},
  };
  for (const auto& c : table) EXPECT_EQ(pdfcheck::signed_whole_file(as_bytes(c.pdf)), c.ok) << c.name;
}

TEST(PdfCheck, LockedDocumentGivesCopiesThatOpenWithoutItsPassword) {
  const std::string locked = test::qpdf_encrypt(test::text_pdf({"one", "two"}), "user", "owner");
  ASSERT_FALSE(locked.empty());
  const auto engine = make_engine(EngineKind::Pdfium);
  for (const char* password : {"user", "owner"}) {
    const auto doc = engine->open(as_bytes(locked), password);
    ASSERT_TRUE(doc) << password;
    const std::span<const std::byte> source = doc->source_bytes();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(source.data()), source.size()), locked);

    std::vector<uint8_t> plain;
    ASSERT_TRUE(doc->decrypted_copy(source, plain)) << password;
    const auto reopened = engine->open(span_of(plain), {});
    ASSERT_TRUE(reopened) << password;
    EXPECT_FALSE(reopened->metadata().encrypted);
    EXPECT_EQ(reopened->page_count(), 2);
  }
  // A copy locked with another password is not this document's to open.
  const auto doc = engine->open(as_bytes(locked), "user");
  const std::string other = test::qpdf_encrypt(test::text_pdf({"x"}), "else", "else");
  std::vector<uint8_t> out{1, 2, 3};
  EXPECT_FALSE(doc->decrypted_copy(as_bytes(other), out));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
