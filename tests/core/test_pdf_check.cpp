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
    const std::vector<std::byte> source = doc->source_bytes();
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


// `qpdf --show-encryption` of a file as `password` opens it: method, permissions and the
// passwords qpdf recovers, all in one text to compare.
std::string encryption_of(const std::string& pdf, const std::string& password) {
  test::TempDir dir;
  test::write_file(dir.file("f.pdf"), pdf);
  std::string out;
  if (test::run_program({"qpdf", "--show-encryption", "--password=" + password, dir.file("f.pdf")}, &out) != 0) return {};
  return out;
}

std::string locked_with(const std::string& pdf, std::vector<std::string> encrypt) {
  test::TempDir dir;
  test::write_file(dir.file("in.pdf"), pdf);
  std::vector<std::string> args{"qpdf", "--allow-weak-crypto", "--encrypt"};
  args.insert(args.end(), encrypt.begin(), encrypt.end());
  args.insert(args.end(), {"--", dir.file("in.pdf"), dir.file("out.pdf")});
  return test::run_program(args) == 0 ? test::read_file(dir.file("out.pdf")) : std::string();
}

std::string text_of(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// A result of another program gets the original's lock back: what opened the original opens
// it (user and owner password alike), nothing else does, with the same method and permissions;
// its content is the result's.
TEST(PdfCheck, ProtectLikeTheOriginal) {
  const std::string original = test::text_pdf({"one", "two"});
  const std::string result = test::text_pdf({"changed", "by", "a backend"});
  const struct {
    const char* name;
    std::vector<std::string> encrypt;
    const char* user;
    const char* owner;
  } table[] = {
      {"AES-256, restricted", {"user", "owner", "256", "--print=none", "--modify=none", "--extract=n"}, "user", "owner"},
      {"AES-128", {"user", "owner", "128", "--use-aes=y"}, "user", "owner"},
      {"RC4 128", {"user", "owner", "128", "--use-aes=n"}, "user", "owner"},
      {"RC4 40", {"user", "owner", "40"}, "user", "owner"},
      {"owner password only", {"", "owner", "256", "--print=none"}, "", "owner"},
  };
  const auto engine = make_engine(EngineKind::Pdfium);
  for (const auto& c : table) {
    const std::string locked = locked_with(original, c.encrypt);
    ASSERT_FALSE(locked.empty()) << c.name;
    for (const char* password : {c.user, c.owner}) {
      const std::string label = std::string(c.name) + ", opened with '" + password + "'";
      std::vector<uint8_t> out;
      ASSERT_TRUE(pdfcheck::protect_like(as_bytes(result), as_bytes(locked), password, out)) << label;
      for (const char* other : {c.user, c.owner}) {
        const std::string expected = encryption_of(locked, other);
        ASSERT_NE(expected.find("R = "), std::string::npos) << label;
        EXPECT_EQ(encryption_of(text_of(out), other), expected) << label << ", read with " << other;
      }
      const auto reopened = engine->open(span_of(out), c.owner);
      ASSERT_TRUE(reopened) << label;
      EXPECT_EQ(reopened->page_count(), 3) << label;
      EXPECT_EQ(engine->open(span_of(out), "").get() != nullptr, *c.user == '\0') << label;
    }
  }
}

TEST(PdfCheck, ProtectLikeRefusesWhatItCannotLock) {
  const std::string plain = test::text_pdf({"plain"});
  const std::string locked = test::qpdf_encrypt(plain, "user", "owner");
  const struct {
    const char* name;
    std::string pdf, model;
    const char* password;
  } table[] = {
      {"model not encrypted", plain, plain, ""},
      {"wrong password for the model", plain, locked, "guess"},
      {"result locked with another password", test::qpdf_encrypt(plain, "else", "else"), locked, "user"},
      {"result not a PDF", std::string(400, 'x'), locked, "user"},
      {"model not a PDF", plain, std::string(400, 'x'), "user"},
  };
  for (const auto& c : table) {
    std::vector<uint8_t> out{7};
    EXPECT_FALSE(pdfcheck::protect_like(as_bytes(c.pdf), as_bytes(c.model), c.password, out)) << c.name;
    EXPECT_EQ(out, std::vector<uint8_t>{7}) << c.name;
  }
}

// The document's protector keeps working after page edits and after the document has gone;
// a document without a lock has none.
TEST(PdfCheck, DocumentProtectorOutlivesTheDocument) {
  const auto engine = make_engine(EngineKind::Pdfium);
  const std::string plain = test::text_pdf({"one", "two"});
  EXPECT_FALSE(engine->open(as_bytes(plain), {})->protector());

  const std::string locked = test::qpdf_encrypt(plain, "user", "owner");
  IDocument::Protector protect;
  {
    auto doc = engine->open(as_bytes(locked), "owner");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(doc->rotate_page(1, 1));
    protect = doc->protector();
  }
  ASSERT_TRUE(protect);
  std::vector<uint8_t> out;
  ASSERT_TRUE(protect(as_bytes(test::text_pdf({"result"})), out));
  EXPECT_TRUE(pdfcheck::encrypted_for(span_of(out), "user"));
  EXPECT_EQ(encryption_of(text_of(out), "owner"), encryption_of(locked, "owner"));
}
}  // namespace
