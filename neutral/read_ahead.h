#pragma once
// The neutral stream decoded ahead: a second thread reads, translates and decodes the stream
// into tokens (items and record end marks) while the conversion works on the records before
// them, and CVTREC takes its records from those tokens.
//
// The records, words, counts and results are exactly those of CVTREC on the stream itself, and
// so are the messages and their moments: what the stream meets when it reads a line (a character
// outside the alphabet, the end of the data where a further line was needed) follows, as an
// event, the token whose consumption read that line, and is reported on the consuming thread
// when that token is taken, as the stream itself would have reported it then. The decoder may
// read further than the records taken (up to the queue's capacity): what it meets there is
// never reported.
//
// Tokens travel in chunks through a ring of kChunks chunks of kChunkSlots slots each. The
// decoder fills chunk after chunk, publishing what it has finished every kPublishEvery slots,
// whenever the input makes it wait, and at the chunk's end; the consumer takes the published
// slots in order and gives a used-up chunk back. A slot holds a token or an event:
//
//   width  1, 2   an item of one or two words (words)
//          0      a record end mark (words[0] = its value)
//          -1     a token that the end of the data cut short (its event follows)
//          -2     event: a character outside the alphabet (words[0]) in the line just read
//          -3     event: no further line (words[0] = the input's read error, 0 for none)
//
// Before each token the decoder makes sure that the chunk has room for it and for the events of
// one line, so that a token and its events share a chunk. Memory is fixed when the reader is
// made; nothing is allocated per token.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "neutral/items.h"
#include "neutral/stream.h"

namespace neutral {

class ReadAhead {
 public:
  static constexpr int kChunkSlots = 1 << 16;
  static constexpr int kChunks = 4;
  static constexpr int kPublishEvery = 1 << 13;

  // Starts decoding `stream` from its current value on. REQUIRES: CVTSTR has read the header;
  // nothing else reads the stream until the reader is gone.
  explicit ReadAhead(Stream& stream);
  // Stops the decoder and waits for it.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Called on the consuming thread whenever it has used up the tokens it was given and looks for
  // further ones: once per batch of up to kChunkSlots tokens, never per token. A progress
  // display polls the input's byte count there. Without a decoder thread it is never called.
  void set_batch_hook(std::function<void()> hook) { batch_hook_ = std::move(hook); }

  // As neutral::CVTREC on the stream.
  int CVTREC(int mode, int32_t& nmax, int32_t& nread, std::span<int32_t> buf, int32_t* words = nullptr);

 private:
  struct Chunk {
    std::unique_ptr<Token[]> slots;
    // Guarded by mutex_:
    int published = 0;   // slots the consumer may read
    bool finished = false;  // published is final: the chunk is full, or the decoder stopped
    std::exception_ptr failure;  // why the decoder stopped, when it failed
  };
  class Observer;

  void decode();  // the decoder thread
  void publish(Chunk& chunk, int slots, bool finished, std::exception_ptr failure = nullptr);
  // The next token, with its events reported.
  const Token& take();
  // Waits for further slots (in this chunk or the next); false when the decoder has stopped and
  // there are none.
  bool more();

  Stream& stream_;
  std::vector<Chunk> chunks_;

  std::mutex mutex_;
  std::condition_variable published_;  // more slots were published
  std::condition_variable returned_;   // a chunk was given back, or the decoder must stop
  int64_t started_ = 0;                // chunks the decoder has begun to fill
  int64_t given_back_ = 0;             // chunks the consumer is done with
  bool consumer_waiting_ = false;
  bool stopping_ = false;
  bool decoder_done_ = false;

  // Consumer side, touched only by the consuming thread.
  int64_t reading_ = 0;  // the chunk being read (its number: the slot in chunks_ is modulo kChunks)
  const Token* slots_ = nullptr;
  int next_ = 0;       // next slot to read
  int available_ = 0;  // slots published when last looked
  std::function<void()> batch_hook_;

  std::thread decoder_;
};

}  // namespace neutral
