// libFuzzer target: arbitrary pulse trains, tick rates, edge counts and BitMask values.
// Every decode must stay inside its buffers and give a code of hexadecimal digits that
// is no longer than the bits a train can carry (or the BitMask's digits).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decode/decoder.h"
#include "decode/service_log.h"
#include "decode/stable_decoder.h"

namespace {

using namespace sfh56;

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  template <typename T>
  T Get() {
    T value{};
    const size_t n = pos_ + sizeof(T) <= size_ ? sizeof(T) : size_ - pos_;
    std::memcpy(&value, data_ + pos_, n);
    pos_ += n;
    return value;
  }
  bool Done() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class CheckingLog : public ServiceLogSink {
 public:
  bool OpenAndWriteHead(const PulseTrain& train, int edge_count) override {
    if (edge_count < 12 || edge_count > kEdgeCapacity) std::abort();
    head_ = FormatLogHead(train, edge_count);
    return true;
  }
  void WriteCodeLineAndClose(std::string_view code, bool shift_coded) override {
    head_ += FormatLogCodeLine(code, shift_coded);
  }

 private:
  std::string head_;
};

DecoderState state;  // kept across inputs so that repeat frames re-send real codes
std::string previous_code;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  PulseTrain train;
  const uint8_t mode = in.Get<uint8_t>();
  const int32_t bit_mask = (mode & 1) != 0 ? in.Get<int32_t>() : in.Get<uint8_t>() % 100;
  train.TicksPerSecond = (mode & 2) != 0 ? in.Get<double>() : 1000000.0;
  int count = 0;
  int64_t t = in.Get<int32_t>();
  while (!in.Done() && count < kEdgeCapacity) {
    const uint32_t status =
        (mode & 4) != 0 ? in.Get<uint32_t>() : (count % 2 == 0 ? 0 : kIdleStatus);
    if ((mode & 8) != 0) {
      t = in.Get<int64_t>();  // anything, also decreasing
    } else {
      t += in.Get<uint16_t>();  // increasing microseconds: real-looking trains
    }
    train.Edges[count++] = {status, t};
  }
  train.LastEdgeIndex = (mode & 16) != 0 ? in.Get<int32_t>() : count - 1;

  CheckingLog log;
  const DecodeResult result = Decoder::Decode(train, bit_mask, state, &log);
  const std::string_view code = state.Code();
  if (result.deliver && result.code != code) std::abort();
  // The stable decoding takes the same trains in full and writes the same kind of code.
  const DecodedTrain stable = DecodeStable(train, bit_mask);
  if ((stable.outcome == DecodeTrace::Outcome::kFull) != result.full_decode) std::abort();
  if (stable.Code().size() > std::max(code.size(), size_t{76})) std::abort();
  if (stable.Code().find_first_not_of("0123456789ABCDEF") != std::string_view::npos) std::abort();
  if (!result.full_decode) {
    // Repeat frames and ignored trains leave the last code as it was.
    if (code != previous_code) std::abort();
    return 0;
  }
  previous_code = std::string(code);
  const size_t mask_digits =
      bit_mask > 0 ? static_cast<size_t>(bit_mask / 4 + (bit_mask % 4 != 0 ? 1 : 0)) : 0;
  const size_t bound = mask_digits > 76 ? mask_digits : 76;
  if (code.size() > bound || code.size() > static_cast<size_t>(kMaxCodeChars)) std::abort();
  if (code.find_first_not_of("0123456789ABCDEF") != std::string_view::npos) std::abort();
  if (std::strlen(state.CodeCString()) != code.size()) std::abort();
  return 0;
}
