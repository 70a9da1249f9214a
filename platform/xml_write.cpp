// Serialisation: the declaration written here (always UTF-8, the version
// and standalone of the loaded declaration kept), the tree by pugixml,
// indented with tabs, streamed to the file's atomic replacement.
#include <algorithm>
#include <future>
#include <system_error>
#include <thread>
#include <vector>

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

// A document element with fewer children is written in one piece.
constexpr std::size_t kChildrenWrittenInParts = 1024;

// Writes `element`, the document element, as pugixml does, but with its
// children made into text side by side, one piece a processor: a large
// store's save is mostly the making of its text. pugixml writes the children
// of an element that holds no text one after the other, each at its depth
// and ending its line, between "<name>" and "</name>" on lines of their own,
// so the pieces joined make the same text. False (nothing written) for any
// other element and on a single processor; the caller then writes it whole.
bool WriteInParts(pugi::xml_node element, SinkWriter& writer) {
  const std::size_t processors = std::thread::hardware_concurrency();
  if (processors < 2 || element.first_attribute()) return false;
  std::vector<pugi::xml_node> children;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) return false;
    children.push_back(child);
  }
  if (children.size() < kChildrenWrittenInParts) return false;
  // In rounds of one piece a thread: this thread writes its piece straight
  // to the file while the others make theirs in memory, written after it.
  // Eight rounds keep what is held in memory to a small share of the text.
  const std::size_t threads = std::min<std::size_t>(processors, 4);
  const std::size_t pieces = threads * 8;
  const auto write_piece = [&](std::size_t piece, pugi::xml_writer& out) {
    const std::size_t end = children.size() * (piece + 1) / pieces;
    for (std::size_t i = children.size() * piece / pieces; i < end; ++i) {
      children[i].print(out, "\t", pugi::format_default, pugi::encoding_utf8, 1);
    }
  };
  const std::string name = element.name();
  const std::string start = "<" + name + ">\n";
  writer.write(start.data(), start.size());
  std::vector<std::string> made(threads);
  for (std::size_t round = 0; round < pieces; round += threads) {
    // Each future waits for its thread when it goes, also when a write
    // fails, so no thread outlives what it reads and writes.
    std::vector<std::future<void>> making;
    for (std::size_t k = 1; k < threads; ++k) {
      try {
        making.push_back(std::async(std::launch::async, [&, k, round] {
          made[k].clear();
          StringSink sink(made[k]);
          SinkWriter out(sink);
          write_piece(round + k, out);
          out.Flush();
        }));
      } catch (const std::system_error&) {
        break;  // no thread to be had: the remaining pieces are made here
      }
    }
    write_piece(round, writer);
    for (std::size_t k = 1; k < threads; ++k) {
      if (k <= making.size()) {
        making[k - 1].get();
        writer.write(made[k].data(), made[k].size());
      } else {
        write_piece(round + k, writer);
      }
    }
  }
  const std::string end = "</" + name + ">\n";
  writer.write(end.data(), end.size());
  return true;
}

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
    if (top.type() == pugi::node_element && WriteInParts(top, writer)) continue;
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
  // A missing or unreadable file is replaced, or fails, as by Save.
  if (IsSavedIn(path)) return false;
  Save(path);
  return true;
}

bool XmlDocument::IsSavedIn(const std::string& path) const {
  CheckDepth(impl_->doc, impl_->within_depth_at);
  std::string existing;
  try {
    existing = Files().ReadFileBytes(path);
  } catch (const Failure&) {
    return false;
  }
  xml_detail::SameBytesSink same(existing);
  xml_detail::WriteDocument(impl_->doc, same);
  return same.Same();
}

}  // namespace platform
