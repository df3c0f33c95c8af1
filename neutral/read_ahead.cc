#include "neutral/read_ahead.h"

#include <system_error>

namespace neutral {

namespace {

constexpr int32_t kCutShort = -1;
constexpr int32_t kInvalidCharacterEvent = -2;
constexpr int32_t kInputEndedEvent = -3;
// A token and the events of the one line that its consumption may read.
constexpr int kTokenRoom = 1 + kValuesPerLine;

struct InputEnded {};  // unwinds the decoder out of the token it was decoding

}  // namespace

// Puts the stream's line events behind the token being decoded.
class ReadAhead::Observer : public LineObserver {
 public:
  Observer(Token* slots, int& end) : slots_(slots), end_(end) {}
  void invalid_character(char c) override { add(kInvalidCharacterEvent, static_cast<unsigned char>(c)); }
  [[noreturn]] void input_ended(int error) override {
    add(kInputEndedEvent, error);
    throw InputEnded{};
  }
  void use(Token* slots) { slots_ = slots; }

 private:
  void add(int32_t kind, int32_t value) {
    Token& event = slots_[end_++];
    event.width = kind;
    event.words[0] = value;
  }
  Token* slots_;
  int& end_;  // the slot behind the last one written
};

ReadAhead::ReadAhead(Stream& stream) : stream_(stream), chunks_(kChunks) {
  for (Chunk& chunk : chunks_) chunk.slots = std::make_unique_for_overwrite<Token[]>(kChunkSlots);
  try {
    decoder_ = std::thread([this] { decode(); });
  } catch (const std::system_error&) {
    // No thread to be had: the records are decoded from the stream as they are asked for.
  }
}

ReadAhead::~ReadAhead() {
  if (!decoder_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  returned_.notify_all();
  decoder_.join();
}

void ReadAhead::publish(Chunk& chunk, int slots, bool finished, std::exception_ptr failure) {
  std::lock_guard<std::mutex> hold(mutex_);
  chunk.published = slots;
  chunk.finished = finished;
  chunk.failure = std::move(failure);
  if (consumer_waiting_) published_.notify_one();
}

void ReadAhead::decode() {
  Chunk* chunk = nullptr;
  int end = 0;        // slots written in the chunk
  int completed = 0;  // of which tokens and their events are complete
  Observer observer(nullptr, end);
  stream_.set_observer(&observer);
  // While the input keeps the decoder waiting, the consumer gets what is complete; a stop ends
  // the wait (and with it the input).
  stream_.input().set_wait_hook([&] {
    publish(*chunk, completed, false);
    std::lock_guard<std::mutex> hold(mutex_);
    return !stopping_;
  });
  auto leave = [&] {
    stream_.input().set_wait_hook(nullptr);
    stream_.set_observer(nullptr);
    std::lock_guard<std::mutex> hold(mutex_);
    decoder_done_ = true;
    if (consumer_waiting_) published_.notify_one();
  };
  for (int64_t number = 0;; ++number) {
    {
      std::unique_lock<std::mutex> hold(mutex_);
      returned_.wait(hold, [&] { return stopping_ || number - given_back_ < kChunks; });
      if (stopping_) {
        hold.unlock();
        return leave();
      }
      chunk = &chunks_[static_cast<std::size_t>(number % kChunks)];
      chunk->published = 0;
      chunk->finished = false;
      chunk->failure = nullptr;
      started_ = number + 1;
    }
    Token* slots = chunk->slots.get();
    observer.use(slots);
    end = completed = 0;
    try {
      for (int next_publish = kPublishEvery; end + kTokenRoom <= kChunkSlots;) {
        decode_token(stream_, slots[end++]);  // its events, if any, go behind it
        completed = end;
        if (completed >= next_publish) {
          publish(*chunk, completed, false);
          next_publish += kPublishEvery;
        }
      }
    } catch (const InputEnded&) {
      slots[completed].width = kCutShort;  // the token being decoded; its event follows
      publish(*chunk, end, true);
      return leave();
    } catch (...) {
      publish(*chunk, completed, true, std::current_exception());
      return leave();
    }
    publish(*chunk, completed, true);
  }
}

bool ReadAhead::more() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    Chunk& chunk = chunks_[static_cast<std::size_t>(reading_ % kChunks)];
    if (reading_ < started_) {
      if (chunk.published > next_) {
        available_ = chunk.published;
        slots_ = chunk.slots.get();
        return true;
      }
      if (chunk.finished) {
        if (chunk.failure) std::rethrow_exception(chunk.failure);
        // Used up: give it back and go on with the next one.
        ++given_back_;
        ++reading_;
        next_ = available_ = 0;
        returned_.notify_one();
        continue;
      }
    }
    if (decoder_done_ && reading_ >= started_) return false;
    consumer_waiting_ = true;
    published_.wait(hold);
    consumer_waiting_ = false;
  }
}

const Token& ReadAhead::take() {
  // The decoder stops only after a token that ends the run (or with a failure, which more()
  // passes on), so it cannot run out while records are read; if it did, the data have ended.
  if (next_ == available_) {
    if (batch_hook_) batch_hook_();
    if (!more()) stream_.report_premature_end(0);
  }
  const Token& token = slots_[next_++];
  // Its events (a chunk holds a token's events with it, all published together).
  while (next_ < available_ && slots_[next_].width < kCutShort) {
    const Token& event = slots_[next_++];
    if (event.width == kInvalidCharacterEvent) {
      stream_.report_invalid_character(static_cast<char>(event.words[0]));
    } else {
      stream_.report_premature_end(event.words[0]);
    }
  }
  return token;
}

int ReadAhead::CVTREC(int mode, int32_t& nmax, int32_t& nread, std::span<int32_t> buf, int32_t* words) {
  if (!decoder_.joinable()) return neutral::CVTREC(stream_, mode, nmax, nread, buf, words);
  // A token cut short by the end of the data stops the run when it is taken.
  return assemble_record([this]() -> const Token& { return take(); }, stream_.alphabet_length(), nmax, nread, buf,
                         words);
}

}  // namespace neutral
