// Serialisation: the declaration written here (always UTF-8, the version
// and standalone of the loaded declaration kept), the tree by pugixml,
// indented with tabs, streamed to the file's atomic replacement.
#include <algorithm>
#include <functional>
#include <future>
#include <optional>
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

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
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

// How many threads make the parts of an element's text side by side.
std::size_t PartThreads() {
  return std::min<std::size_t>(std::thread::hardware_concurrency(), XmlDocument::kLookParts);
}

// The children of `element`, the document element, when its text is made in
// parts side by side, one part a processor: a large store's save is mostly
// the making of its text. pugixml writes the children of an element that
// holds no text one after the other, each at its depth and ending its line,
// between "<name>" and "</name>" on lines of their own (see WriteAround), so
// the parts joined make the same text. Empty for any other element, for a
// small one and on a single processor.
std::vector<pugi::xml_node> ChildrenInParts(pugi::xml_node element) {
  if (PartThreads() < 2 || element.first_attribute()) return {};
  std::vector<pugi::xml_node> children;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) return {};
    children.push_back(child);
  }
  if (children.size() < kChildrenWrittenInParts) return {};
  return children;
}

void WriteChild(pugi::xml_node child, pugi::xml_writer& out) {
  child.print(out, "\t", pugi::format_default, pugi::encoding_utf8, 1);
}

// Writes `element` with its children written by `children`, as pugixml
// writes such an element.
template <typename Children>
void WriteAround(pugi::xml_node element, SinkWriter& writer, Children children) {
  const std::string name = element.name();
  const std::string start = "<" + name + ">\n", end = "</" + name + ">\n";
  writer.write(start.data(), start.size());
  children();
  writer.write(end.data(), end.size());
}

// Runs make(k) for each k below `threads`: make(0) on this thread, the others
// each on a thread of its own, or here when no thread is to be had. Each
// future waits for its thread when it goes, also when a make throws, so no
// thread outlives what it reads and writes.
void SideBySide(std::size_t threads, const std::function<void(std::size_t)>& make) {
  std::vector<std::future<void>> making;
  for (std::size_t k = 1; k < threads; ++k) {
    try {
      making.push_back(std::async(std::launch::async, make, k));
    } catch (const std::system_error&) {
      break;
    }
  }
  make(0);
  for (std::size_t k = 1; k < threads; ++k) {
    if (k <= making.size()) {
      making[k - 1].get();
    } else {
      make(k);
    }
  }
}

// Writes `element`, the document element, as pugixml does, its children in
// parts (see ChildrenInParts); false (nothing written) when they are not
// made in parts, and the caller then writes it whole.
bool WriteInParts(pugi::xml_node element, SinkWriter& writer) {
  const std::vector<pugi::xml_node> children = ChildrenInParts(element);
  if (children.empty()) return false;
  // In rounds of one piece a thread: this thread writes its piece straight
  // to the file while the others make theirs in memory, written after it.
  // Eight rounds keep what is held in memory to a small share of the text.
  const std::size_t threads = PartThreads();
  const std::size_t pieces = threads * 8;
  std::vector<std::string> made(threads);
  WriteAround(element, writer, [&] {
    for (std::size_t round = 0; round < pieces; round += threads) {
      SideBySide(threads, [&](std::size_t k) {
        made[k].clear();
        StringWriter in_memory(made[k]);
        pugi::xml_writer& out = k == 0 ? static_cast<pugi::xml_writer&>(writer) : in_memory;
        const std::size_t end = children.size() * (round + k + 1) / pieces;
        for (std::size_t i = children.size() * (round + k) / pieces; i < end; ++i) {
          WriteChild(children[i], out);
        }
      });
      for (std::size_t k = 1; k < threads; ++k) writer.write(made[k].data(), made[k].size());
    }
  });
  return true;
}

// The text of the children of an element, made side by side without a
// list of them made first, which would be a walk of its own over a large
// document: the children go in blocks, block b to thread b % threads, and
// each thread walks the whole run of them, passing over the blocks of the
// others at little cost next to the making of its own. Each thread looks at
// each of its children once its text is made, while its nodes are at hand.
class ChildrenInBlocks {
 public:
  using Look = std::function<void(std::size_t part, pugi::xml_node child)>;

  // `size`: about how long the whole text will be.
  ChildrenInBlocks(pugi::xml_node element, std::size_t threads, std::size_t size, const Look& look)
      : parts_(threads) {
    SideBySide(threads, [&](std::size_t part) {
      parts_[part].text.reserve(size / threads + size / 16);
      Make(element, part, look);
    });
  }
  // Whether the text made is the element's text between its start and end
  // lines (see ChildrenInParts): no child is text.
  bool Holds() const {
    return std::none_of(parts_.begin(), parts_.end(),
                        [](const Part& part) { return part.text_child; });
  }
  void WriteTo(pugi::xml_writer& writer) const {
    std::vector<std::size_t> written(parts_.size(), 0);
    for (std::size_t block = 0;; ++block) {
      const std::size_t part = block % parts_.size(), k = block / parts_.size();
      if (k >= parts_[part].block_ends.size()) return;
      const std::size_t end = parts_[part].block_ends[k];
      writer.write(parts_[part].text.data() + written[part], end - written[part]);
      written[part] = end;
    }
  }

 private:
  static constexpr std::size_t kBlock = 256;
  struct Part {
    std::string text;
    std::vector<std::size_t> block_ends;
    bool text_child = false;
  };

  void Make(pugi::xml_node element, std::size_t part, const Look& look) {
    Part& mine = parts_[part];
    StringWriter out(mine.text);
    bool in_block = false;
    std::size_t index = 0;
    for (pugi::xml_node child = element.first_child(); child;
         child = child.next_sibling(), ++index) {
      if (index / kBlock % parts_.size() != part) {
        if (in_block) mine.block_ends.push_back(mine.text.size());
        in_block = false;
        continue;
      }
      // Every child is still looked at.
      if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
        mine.text_child = true;
      }
      in_block = true;
      WriteChild(child, out);
      look(part, child);
    }
    if (in_block) mine.block_ends.push_back(mine.text.size());
  }

  std::vector<Part> parts_;
};

// Whether `element` has `count` children or more.
bool HasChildren(pugi::xml_node element, std::size_t count) {
  for (pugi::xml_node child = element.first_child(); child && count > 0;
       child = child.next_sibling()) {
    --count;
  }
  return count == 0;
}

// The document as Save writes it, its document element by
// `write_element` (false: written whole by pugixml).
template <typename ElementWriter>
void WriteDocumentWith(const pugi::xml_document& doc, ByteSink& sink, ElementWriter write_element) {
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
    if (top.type() == pugi::node_element && write_element(top, writer)) continue;
    top.print(writer, "\t", pugi::format_default, pugi::encoding_utf8);
  }
  writer.Flush();
}

}  // namespace

void WriteDocument(const pugi::xml_document& doc, ByteSink& sink) {
  WriteDocumentWith(doc, sink, WriteInParts);
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

bool XmlDocument::SaveWithNewFirstChildren(const std::string& path, const Look& look,
                                           const std::function<void(XmlNode)>& add) {
  const XmlNode element = DocumentElement();
  const pugi::xml_node top(static_cast<pugi::xml_node_struct*>(element.node_));
  const pugi::xml_node first = top.first_child(), last = top.last_child();
  const std::size_t threads = xml_detail::PartThreads();
  std::optional<xml_detail::ChildrenInBlocks> made;
  // The text of a store of many years is not held in memory all at once.
  constexpr std::size_t kHeldAtMost = 32u << 20;
  if (threads > 1 && !top.first_attribute() && impl_->buffer.size() <= kHeldAtMost &&
      xml_detail::HasChildren(top, xml_detail::kChildrenWrittenInParts)) {
    // The text made is about as long as the text the document was read from.
    made.emplace(top, threads, impl_->buffer.size(), [&](std::size_t part, pugi::xml_node child) {
      look(part, XmlNode(child.internal_object()));
    });
  } else {
    for (pugi::xml_node child : top.children()) look(0, XmlNode(child.internal_object()));
  }
  add(element);
  // New first children come before the text made, which holds unless more
  // than they came in.
  std::vector<pugi::xml_node> added;
  pugi::xml_node node = top.first_child();
  for (; node && node != first; node = node.next_sibling()) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) break;
    added.push_back(node);
  }
  if (!made || !made->Holds() || node != first || top.last_child() != last ||
      top.first_attribute()) {
    // Written as any other document.
    if (top.first_child() == first && top.last_child() == last) return SaveUnlessSame(path);
    Save(path);
    return true;
  }
  CheckDepth(impl_->doc, impl_->within_depth_at);
  const auto write = [&](ByteSink& sink) {
    xml_detail::WriteDocumentWith(impl_->doc, sink,
                                  [&](pugi::xml_node written, xml_detail::SinkWriter& writer) {
                                    if (written != top) return false;
                                    xml_detail::WriteAround(top, writer, [&] {
                                      for (pugi::xml_node child : added)
                                        xml_detail::WriteChild(child, writer);
                                      made->WriteTo(writer);
                                    });
                                    return true;
                                  });
  };
  if (added.empty()) {
    std::string existing;
    try {
      existing = Files().ReadFileBytes(path);
    } catch (const Failure&) {
      // Missing or unreadable: replaced, or failing, as by Save.
    }
    xml_detail::SameBytesSink same(existing);
    write(same);
    if (same.Same()) return false;
  }
  Files().ReplaceFileAtomicallyStreamed(path, write);
  return true;
}

}  // namespace platform
