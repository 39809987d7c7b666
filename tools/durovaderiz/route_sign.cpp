// POST /pdf/sign: a detached CMS signature (CAdES, with the signing-certificate attribute) over
// the /ByteRange of a new signature field, made with the key and certificate of the PKCS#12
// container in X-Signer-Pfx (base64) and the query's passphrase.
#include <openssl/cms.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <qpdf/QPDFPageDocumentHelper.hh>

#include <ctime>
#include <memory>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Pkcs12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12, PKCS12_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo, CMS_ContentInfo_free>>;

void free_chain(STACK_OF(X509)* s) { sk_X509_pop_free(s, X509_free); }
using ChainPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), free_chain>>;

struct Signer {
  KeyPtr key;
  CertPtr cert;
  ChainPtr chain;
};

// 0 with `s` filled, else the status to refuse with: 400 for a container that is not one or
// holds no usable key, 403 for a passphrase that does not open it.
int load_signer(const std::string& der, const std::string& pass, Signer& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(der.size())));
  if (!p12) return 400;
  if (PKCS12_mac_present(p12.get())) {
    // An empty passphrase may have been taken as no passphrase when the container was made.
    const bool mac_ok = PKCS12_verify_mac(p12.get(), pass.c_str(), -1) ||
                        (pass.empty() && PKCS12_verify_mac(p12.get(), nullptr, 0));
    if (!mac_ok) return 403;
  }
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (!PKCS12_parse(p12.get(), pass.c_str(), &key, &cert, &chain))
    return PKCS12_mac_present(p12.get()) ? 400 : 403;
  s.key.reset(key);
  s.cert.reset(cert);
  s.chain.reset(chain);
  if (!s.key || !s.cert || X509_check_private_key(s.cert.get(), s.key.get()) != 1) return 400;
  return 0;
}

int der_size(X509* cert) { return std::max(i2d_X509(cert, nullptr), 0); }

std::string hex(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

std::string pdf_date_now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "D:%Y%m%d%H%M%S+00'00'", &tm);
  return buf;
}

// Finds `needle` ignoring the case of hex letters.
size_t find_hex(const std::string& hay, const std::string& upper_hex) {
  size_t at = hay.find(upper_hex);
  if (at != std::string::npos) return at;
  std::string lower = upper_hex;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return hay.find(lower);
}

constexpr long long kRangePlaceholder = 9999999999LL;  // ten digits hold any offset we accept

}  // namespace

Response handle_pdf_sign(const Request& req) {
  const std::string* pfx_b64 = req.header("x-signer-pfx");
  if (!pfx_b64) return text_reply(400, "X-Signer-Pfx is required");
  const std::string* field_name = req.query_value("field_name");
  if (!field_name || field_name->empty()) return text_reply(400, "field_name is required");
  const std::string* pass_item = req.query_value("passphrase");
  const std::string pass = pass_item ? *pass_item : std::string{};
  if (pass.find('\0') != std::string::npos) return text_reply(400, "passphrase holds a NUL byte");
  std::string der;
  if (!base64_decode(*pfx_b64, der)) return text_reply(400, "X-Signer-Pfx is not base64");
  Signer signer;
  if (const int refused = load_signer(der, pass, signer)) {
    return text_reply(refused, refused == 403 ? "the passphrase does not open the container"
                                              : "X-Signer-Pfx is not a usable PKCS#12 container");
  }

  return with_pdf(req, [&](QPDF& pdf) {
    if (pdf.isEncrypted()) return text_reply(422, "an encrypted PDF is not signed here");
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    if (pages.empty()) return text_reply(422, "the PDF has no pages");

    // Room for the signature: the certificates it carries, the signature value and the
    // signed attributes, with plenty to spare.
    size_t room = 8192 + static_cast<size_t>(der_size(signer.cert.get())) +
                  2 * static_cast<size_t>(std::max(EVP_PKEY_get_size(signer.key.get()), 0));
    for (int i = 0; i < sk_X509_num(signer.chain.get()); ++i)
      room += static_cast<size_t>(der_size(sk_X509_value(signer.chain.get(), i)));
    // A random start makes the placeholder findable in the written file.
    unsigned char marker[16];
    if (!random_bytes(marker, sizeof marker)) return text_reply(500, "no random data");
    std::string placeholder(reinterpret_cast<const char*>(marker), sizeof marker);
    placeholder.resize(room, '\0');

    QPDFObjectHandle sig = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /ETSI.CAdES.detached >>"));
    QPDFObjectHandle range = QPDFObjectHandle::newArray();
    range.appendItem(QPDFObjectHandle::newInteger(0));
    for (int i = 0; i < 3; ++i) range.appendItem(QPDFObjectHandle::newInteger(kRangePlaceholder));
    sig.replaceKey("/ByteRange", range);
    sig.replaceKey("/Contents", QPDFObjectHandle::newString(placeholder));
    sig.replaceKey("/M", QPDFObjectHandle::newString(pdf_date_now()));

    QPDFObjectHandle page = pages.front().getObjectHandle();
    QPDFObjectHandle widget = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Widget /FT /Sig /F 132 /Rect [0 0 0 0] >>"));
    widget.replaceKey("/T", QPDFObjectHandle::newUnicodeString(*field_name));
    widget.replaceKey("/V", sig);
    widget.replaceKey("/P", page);
    QPDFObjectHandle annots = page.getKey("/Annots");
    if (!annots.isArray()) {
      annots = QPDFObjectHandle::newArray();
      page.replaceKey("/Annots", annots);
    }
    annots.appendItem(widget);
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle form = root.getKey("/AcroForm");
    if (!form.isDictionary()) {
      form = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
      root.replaceKey("/AcroForm", form);
    }
    QPDFObjectHandle fields = form.getKey("/Fields");
    if (!fields.isArray()) {
      fields = QPDFObjectHandle::newArray();
      form.replaceKey("/Fields", fields);
    }
    fields.appendItem(widget);
    form.replaceKey("/SigFlags", QPDFObjectHandle::newInteger(3));

    QPDFWriter writer(pdf);
    // The signature dictionary must stand in the file as text, not inside an object stream.
    writer.setObjectStreamMode(qpdf_o_disable);
    std::string out = written(writer);

    const size_t marker_at = find_hex(out, hex(std::string_view(reinterpret_cast<const char*>(marker), sizeof marker)));
    if (marker_at == std::string::npos || marker_at == 0 || out[marker_at - 1] != '<')
      return text_reply(500, "signature placeholder not found");
    const size_t open = marker_at - 1;
    const size_t close = open + 1 + 2 * room;
    if (close >= out.size() || out[close] != '>') return text_reply(500, "signature placeholder not found");
    // The byte range of the same object, before or after /Contents.
    const size_t obj_start = out.rfind(" obj", open);
    const size_t obj_end = out.find("endobj", close);
    size_t key_at = out.rfind("/ByteRange", open);
    if (key_at == std::string::npos || obj_start == std::string::npos || key_at < obj_start) {
      key_at = out.find("/ByteRange", close);
      if (key_at > obj_end) key_at = std::string::npos;
    }
    const size_t lb = key_at == std::string::npos ? key_at : out.find('[', key_at);
    const size_t rb = lb == std::string::npos ? lb : out.find(']', lb);
    if (rb == std::string::npos || rb > obj_end) return text_reply(500, "byte range placeholder not found");

    const size_t tail = close + 1;
    std::string numbers = " 0 " + std::to_string(open) + " " + std::to_string(tail) + " " +
                          std::to_string(out.size() - tail);
    if (numbers.size() > rb - lb - 1) return text_reply(500, "byte range does not fit");
    numbers.resize(rb - lb - 1, ' ');
    out.replace(lb + 1, numbers.size(), numbers);

    std::string covered = out.substr(0, open);
    covered.append(out, tail, std::string::npos);
    BioPtr data(BIO_new_mem_buf(covered.data(), static_cast<int>(covered.size())));
    if (!data) return text_reply(500, "out of memory");
    CmsPtr cms(CMS_sign(signer.cert.get(), signer.key.get(), signer.chain.get(), data.get(),
                        CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP | CMS_CADES));
    if (!cms) return text_reply(500, "signing failed");
    const int len = i2d_CMS_ContentInfo(cms.get(), nullptr);
    if (len <= 0 || static_cast<size_t>(len) > room) return text_reply(500, "signature does not fit");
    std::string value(static_cast<size_t>(len), '\0');
    auto* w = reinterpret_cast<unsigned char*>(value.data());
    i2d_CMS_ContentInfo(cms.get(), &w);
    std::string contents = hex(value);
    contents.resize(2 * room, '0');
    out.replace(open + 1, contents.size(), contents);
    return pdf_reply(std::move(out));
  });
}

}  // namespace durovaderiz
