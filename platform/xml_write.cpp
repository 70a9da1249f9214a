// Serialisation: the declaration written here (always UTF-8, the version
// and standalone of the loaded declaration kept), the tree by pugixml,
// indented with tabs, streamed to the file's atomic replacement.
#include "platform/failure.h"
#include "platform/xml_pugi.h"

namespace platform {
namespace xml_detail {
namespace {

// Hands pugixml's output, as it is made, to a sink, in pieces of 64 KiB:
// pugixml's own pieces are small, and each one would be a system call.
class SinkWriter : public pugi::xml_writer {
 public:
  explicit SinkWriter(ByteSink& sink) : sink_(sink) { buffer_.reserve(kPiece); }
  void write(const void* data, size_t size) override {
    if (buffer_.size() + size > kPiece) Flush();
    if (size >= kPiece) {
      sink_.Write(static_cast<const char*>(data), size);
    } else {
      buffer_.append(static_cast<const char*>(data), size);
    }
  }
  void Flush() {
    if (!buffer_.empty()) sink_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kPiece = 65536;
  ByteSink& sink_;
  std::string buffer_;
};

class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  void Write(const char* data, std::size_t size) override { out_.append(data, size); }

 private:
  std::string& out_;
};

// Tells whether the bytes handed to it are exactly `expected`.
class SameBytesSink : public ByteSink {
 public:
  explicit SameBytesSink(std::string_view expected) : expected_(expected) {}
  void Write(const char* data, std::size_t size) override {
    same_ = same_ && size <= expected_.size() - at_ &&
            expected_.compare(at_, size, std::string_view(data, size)) == 0;
    if (same_) at_ += size;
  }
  bool Same() const { return same_ && at_ == expected_.size(); }

 private:
  std::string_view expected_;
  std::size_t at_ = 0;
  bool same_ = true;
};

}  // namespace

void WriteDocument(const pugi::xml_document& doc, ByteSink& sink) {
  std::string head = "<?xml version=\"";
  pugi::xml_node declaration;
  for (pugi::xml_node top : doc.children()) {
    if (top.type() == pugi::node_declaration) declaration = top;
  }
  const char* version = declaration.attribute("version").value();
  head += *version != '\0' ? version : "1.0";
  head += "\" encoding=\"UTF-8\"";
  if (pugi::xml_attribute standalone = declaration.attribute("standalone")) {
    head += " standalone=\"";
    head += standalone.value();
    head += '"';
  }
  head += "?>\n";
  sink.Write(head.data(), head.size());
  SinkWriter writer(sink);
  for (pugi::xml_node top : doc.children()) {
    if (top.type() == pugi::node_declaration) continue;
    top.print(writer, "\t", pugi::format_default, pugi::encoding_utf8);
  }
  writer.Flush();
}

}  // namespace xml_detail

std::string XmlDocument::Xml() const {
  std::string out;
  xml_detail::StringSink sink(out);
  xml_detail::WriteDocument(impl_->doc, sink);
  return out;
}

namespace {

// Checked before the file is touched, so a refused save leaves it as it was;
// the tree is walked only when an element too deep may have come into it.
void CheckDepth(const pugi::xml_document& doc, std::optional<std::uint64_t>& within_depth_at) {
  const std::uint64_t deep = xml_detail::DeepElementsMade();
  if (within_depth_at == deep) return;
  for (pugi::xml_node top : doc.children()) {
    if (!xml_detail::WithinDepth(top)) throw Failure(err::kInvalidCall, xml_detail::DepthError());
  }
  within_depth_at = deep;
}

}  // namespace

void XmlDocument::Save(const std::string& path) const {
  CheckDepth(impl_->doc, impl_->within_depth_at);
  Files().ReplaceFileAtomicallyStreamed(
      path, [&](ByteSink& sink) { xml_detail::WriteDocument(impl_->doc, sink); });
}

bool XmlDocument::SaveUnlessSame(const std::string& path) const {
  CheckDepth(impl_->doc, impl_->within_depth_at);
  std::string existing;
  try {
    existing = Files().ReadFileBytes(path);
  } catch (const Failure&) {
    Save(path);  // a missing or unreadable file is replaced, or fails, as by Save
    return true;
  }
  xml_detail::SameBytesSink same(existing);
  xml_detail::WriteDocument(impl_->doc, same);
  if (same.Same()) return false;
  Save(path);
  return true;
}

}  // namespace platform
