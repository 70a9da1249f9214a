// What ties the converter's output file to the call that asked for it. The
// output has one fixed place in the shared data folder, so a file found there
// may have been written by a converter of an earlier run that lives on, by a
// converter started by hand, or for another feed. The run gives every call a
// value of its own in the environment; the converter appends a mark with
// that value and the URL it was given to what it writes, and the run reads
// only output that ends with the mark of its own call, which it then cuts
// off. A converter started by hand, without the value, writes no mark.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace product {

// The environment variable that holds the call.
inline constexpr const char* kConverterCallVariable = "RSSNOTIFY_CONVERTER_CALL";

// A call value no other call has: the starter's process id, 8 hexadecimal
// digits, a "-" and 16 more ("0000a1b2-5c0e..."), of which the first 8 are
// the same for every call of the starter.
std::string NewConverterCall();
// What all calls of one run share: the value's first 17 characters; "" for
// a malformed value.
std::string ConverterCallRun(std::string_view call);
// The process id that a well-formed call value names; 0 for any other text.
std::uint32_t ConverterCallStarter(std::string_view call);

// The mark for `call` and the URL argument `url`, a processing instruction
// on a line of its own after the document (the URL as hexadecimal bytes, so
// that the mark is ASCII whatever the URL holds):
//   <?FeedPull call="0000a1b2-..." url="687474703a..."?>
std::string ConverterMark(std::string_view call, std::string_view url);
// Whether `text` ends with the mark of `call` and `url`; when it does, the
// mark is cut off.
bool TakeConverterMark(std::string& text, std::string_view call, std::string_view url);

}  // namespace product
