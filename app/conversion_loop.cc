#include "app/conversion_loop.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "app/listing.h"
#include "neutral/items.h"
#include "neutral/read_ahead.h"
#include "platform/format.h"
#include "xdb/close.h"
#include "xdb/datablocks.h"

namespace app {

namespace {

using platform::iw;

constexpr int32_t kHeaderWords = 13;
constexpr int32_t kKeyWords = 12;
constexpr int32_t kChunkWords = 65535;  // words of a group read at a time
constexpr int32_t kDdlObjectScale = 100000;
constexpr int32_t kDdlRecordWords = 5;
constexpr int32_t kKindScale = 10000;

// The loop's working storage, one instance for the run.
class Converter {
 public:
  Converter(xdb::Context& ctx, neutral::ReadAhead& stream, std::ostream* listing, int32_t unit, int32_t ddlcfg)
      : ctx_(ctx), stream_(stream), out_(ctx.units.msg()), listing_(listing), unit_(unit), ddlcfg_(ddlcfg),
        buffer_(kChunkWords + 1) {}

  bool run();

 private:
  // Reads one record of at most nmax words into buffer_; true when an end mark ended it.
  bool read(int32_t nmax, int32_t& items, int32_t& words) {
    return stream_.CVTREC(0, nmax, items, buffer_, &words) == neutral::kEnded;
  }
  // Reads and drops items up to and including the next end mark; returns the words dropped.
  int64_t skip_body() {
    int64_t dropped = 0;
    for (;;) {
      int32_t items = 0, words = 0;
      bool ended = read(kChunkWords, items, words);
      dropped += words;
      if (ended) return dropped;
    }
  }

  std::string block_name() const { return app::block_name(header_.data()); }
  void warning(const std::string& line) {
    out_ << "\n *** SYSTEM WARNING MESSAGE (LXDB)\n     " << line << '\n';
    ++ctx_.units.warnings;
  }
  void open_failure(int32_t ierr) {
    warning("OPEN FAILURE FOR DATABLOCK " + block_name() + " RETURN CODE = " + iw(ierr, 3));
  }
  void write_failure(int32_t ierr) {
    warning("WRITE FAILURE PROCESSING DATABLOCK " + block_name() + " RETURN CODE = " + iw(ierr, 3));
  }
  void fatal(const std::string& line) { out_ << "\n *** SYSTEM FATAL MESSAGE (LXDB)\n     " << line << '\n'; }

  void listing_header();
  void listing_line();
  void group();
  void single_record(int32_t length);
  void relation(int32_t length, int32_t key_type, int32_t key_flag);
  bool load_ddl();  // false: a fatal condition ends the loop

  xdb::Context& ctx_;
  neutral::ReadAhead& stream_;  // the neutral stream, decoded ahead
  std::ostream& out_;
  std::ostream* listing_;
  const int32_t unit_, ddlcfg_;
  std::array<int32_t, kHeaderWords + 1> header_{};
  std::vector<int32_t> buffer_;  // one entry, record or group chunk (and a spare word)
  int listing_words_ = 10;
  int32_t lfn_ = -1;
  bool ddl_stored_ = false;                // the DDL was loaded and stored under ddl_key_
  std::array<int32_t, kKeyWords> ddl_key_{};
};

void Converter::listing_header() { listing_words_ = print_listing_header(*listing_, ctx_.grdblk.DBDLEN[unit_]); }

void Converter::listing_line() { print_listing_line(*listing_, header_.data(), listing_words_); }

void Converter::group() {
  // A group opened under an existing key is written again from its start. The stored DDL is not:
  // the header's DDL version and size describe it, and the pool's DDL area holds it.
  if (ddl_stored_ && std::equal(header_.begin(), header_.begin() + kKeyWords, ddl_key_.begin())) {
    warning("DATABLOCK " + block_name() + " HAS THE KEY OF THE STORED DDL; IT WAS SKIPPED");
    skip_body();
    return;
  }
  int32_t ierr = 0;
  xdb::OPENGR(ctx_, unit_, header_.data(), 1, lfn_, 0, ierr);
  if (ierr != 0) {
    open_failure(ierr);
    skip_body();
    return;
  }
  for (;;) {
    int32_t items = 0, words = 0;
    const bool ended = read(kChunkWords, items, words);
    xdb::WRITGR(ctx_, lfn_, buffer_.data(), words, ierr);
    if (ierr != 0) {
      write_failure(ierr);
      xdb::CLOSGR(ctx_, lfn_);
      if (!ended) skip_body();
      return;
    }
    if (ended) break;
  }
  xdb::CLOSGR(ctx_, lfn_);
}

void Converter::single_record(int32_t length) {
  int32_t ierr = 0;
  xdb::OPENRC(ctx_, unit_, header_.data(), length, lfn_, 0, ierr);
  if (ierr != 0) {
    open_failure(ierr);
    skip_body();
    return;
  }
  int32_t items = 0, words = 0;
  if (read(length, items, words)) {
    warning("RECORD OF DATABLOCK " + block_name() + " ENDED AFTER " + std::to_string(words) + " OF " +
            std::to_string(length) + " WORDS; IT WAS NOT WRITTEN");
    xdb::CLOSGR(ctx_, lfn_);
    return;
  }
  xdb::WRITRC(ctx_, lfn_, buffer_.data(), ierr);
  if (ierr != 0) {
    write_failure(ierr);
    xdb::CLOSGR(ctx_, lfn_);
    skip_body();
    return;
  }
  if (int64_t surplus = skip_body(); surplus > 0) {
    warning("RECORD OF DATABLOCK " + block_name() + " HAS " + std::to_string(surplus) + " WORDS MORE THAN " +
            std::to_string(length) + "; THEY WERE SKIPPED");
  }
  xdb::CLOSGR(ctx_, lfn_);
}

void Converter::relation(int32_t length, int32_t key_type, int32_t key_flag) {
  int32_t ierr = 0;
  xdb::OPENRL(ctx_, unit_, header_.data(), length, lfn_, key_type, key_flag, 0, ierr);
  if (ierr != 0) {
    open_failure(ierr);
    skip_body();
    return;
  }
  for (;;) {
    int32_t items = 0, words = 0;
    if (read(length, items, words)) {
      if (words > 0) {
        warning("LAST ENTRY OF DATABLOCK " + block_name() + " ENDED AFTER " + std::to_string(words) + " OF " +
                std::to_string(length) + " WORDS; IT WAS DROPPED");
      }
      break;
    }
    xdb::WRITRL(ctx_, lfn_, buffer_.data(), ierr);
    if (ierr != 0) {
      write_failure(ierr);
      xdb::CLOSGR(ctx_, lfn_);
      skip_body();
      return;
    }
  }
  xdb::CLOSGR(ctx_, lfn_);
}

bool Converter::load_ddl() {
  auto& s = ctx_.sysfil;
  std::array<int32_t, 4> sizes{};  // V, S2, Z and a spare word
  int32_t items = 0, words = 0, nmax = 3;
  if (stream_.CVTREC(0, nmax, items, sizes, &words) == neutral::kEnded) {
    fatal("DDL BLOCK ENDED AFTER " + std::to_string(words) + " OF ITS 3 SIZE WORDS");
    return false;
  }
  const int32_t version = sizes[0], z = sizes[2];
  const int32_t objects = z / kDdlObjectScale, data_words = z % kDdlObjectScale;
  const int32_t room_objects = ddlcfg_ / kDdlObjectScale, room_words = ddlcfg_ % kDdlObjectScale;
  if (z < 0) {
    fatal("DDL SIZE " + std::to_string(z) + " IS NEGATIVE");
    return false;
  }
  if (objects > room_objects || data_words > room_words) {
    fatal("STATIC MEMORY FOR DDL EXCEEDED, INTERNAL " + iw(objects, 8) + iw(data_words, 8) + " XDB DDL " +
          iw(room_objects, 8) + iw(room_words, 8));
    return false;
  }

  // The body is read and checked apart before anything reaches the pool's DDL area.
  const int32_t n = kDdlRecordWords * objects + data_words;
  std::vector<int32_t> body(static_cast<std::size_t>(n) + 1);
  nmax = n;
  if (stream_.CVTREC(0, nmax, items, body, &words) == neutral::kEnded) {
    fatal("DDL BODY ENDED AFTER " + std::to_string(words) + " OF " + std::to_string(n) + " WORDS");
    return false;
  }
  if (int64_t surplus = skip_body(); surplus > 0) {
    fatal("DDL BODY HOLDS " + std::to_string(surplus) + " WORDS MORE THAN THE " + std::to_string(n) + " ANNOUNCED");
    return false;
  }
  const bool indexed = ctx_.grdblk.DBDLEN[unit_] > 12;
  for (int32_t i = 0; indexed && i < objects; ++i) {
    const int32_t k = body[kDdlRecordWords * static_cast<std::size_t>(i) + 4];
    if (k < 1 || k > room_objects) {
      fatal("DDL OBJECT " + std::to_string(i + 1) + " HAS THE NUMBER " + std::to_string(k) + ", OUTSIDE 1.." +
            std::to_string(room_objects));
      return false;
    }
  }

  ctx_.W(s.BASEDD) = version;
  ctx_.W(int64_t{s.BASEDD} + 1) = objects;
  ctx_.W(int64_t{s.BASEDD} + 2) = data_words;
  std::copy_n(body.begin(), n, ctx_.words(int64_t{s.BASEDD} + 3, n));
  for (int32_t i = 0; indexed && i < objects; ++i) {
    const int64_t b = int64_t{s.BASEDD} + 3 + kDdlRecordWords * int64_t{i};
    ctx_.W(int64_t{s.BASRML} + ctx_.W(b + 4) - 1) = static_cast<int32_t>(b);
  }

  int32_t ierr = 0;
  xdb::OPENGR(ctx_, unit_, header_.data(), 1, lfn_, 0, ierr);
  if (ierr != 0) {
    open_failure(ierr);
    return true;
  }
  xdb::WRITGR(ctx_, lfn_, sizes.data(), 3, ierr);
  if (ierr == 0) xdb::WRITGR(ctx_, lfn_, ctx_.words(int64_t{s.BASEDD} + 3, n), n, ierr);
  if (ierr != 0) {
    write_failure(ierr);
    xdb::CLOSGR(ctx_, lfn_);
    return true;
  }
  xdb::CLOSGR(ctx_, lfn_);
  s.BASELP = s.BASEDD + 3 + n;
  if (s.BASELP < s.BASRML) ctx_.W(s.BASELP) = 0;  // never over the object index behind the area

  std::array<int32_t, 14> entry{};
  xdb::DICRDR(ctx_, unit_, header_.data(), entry.data(), ierr);
  if (ierr != 0) {
    fatal("ERROR OCCURRED CONFIGURING THE DATA DEFINITION OBJECT");
    return false;
  }
  ctx_.grdblk.DDLBLK[unit_] = entry[3];
  ctx_.grdblk.DDLVER[unit_] = version;
  ctx_.grdblk.DDLSIZ[unit_] = z;
  std::copy_n(header_.begin(), kKeyWords, ddl_key_.begin());
  ddl_stored_ = true;
  return true;
}

bool Converter::run() {
  if (listing_) listing_header();
  bool ddl_expected = true;
  for (;;) {
    int32_t items = 0, words = 0, nmax = kHeaderWords;
    if (stream_.CVTREC(0, nmax, items, header_, &words) == neutral::kEnded) {
      if (words > 0) {
        warning("A BLOCK HEADER ENDED AFTER " + std::to_string(words) + " OF 13 WORDS; THE DATA ARE TAKEN AS FINISHED");
      }
      return true;
    }
    if (ddl_expected) {
      ddl_expected = false;
      if (ddlcfg_ > 0) {
        if (std::memcmp(header_.data(), "DDLFORDB", 8) == 0) {
          if (!load_ddl()) return false;
          continue;
        }
        ctx_.grdblk.DDLBLK[unit_] = ctx_.grdblk.DDLVER[unit_] = ctx_.grdblk.DDLSIZ[unit_] = 0;
      }
    }
    if (listing_) listing_line();
    const int32_t K = header_[12];
    if (K <= 0) {
      group();
    } else if (K < kKindScale) {
      relation(K, 0, 0);
    } else {
      const int32_t length = K % kKindScale, q = K / kKindScale;
      const int32_t key_type = q % 10, key_flag = q >= 10 ? 1 : 0;
      if (key_type == 0) {
        single_record(length);
      } else {
        relation(length, key_type, key_flag);
      }
    }
  }
}

}  // namespace

bool CVTDRV(xdb::Context& ctx, neutral::Stream& stream, std::ostream* listing, int32_t DBNUM, int32_t DDLCFG,
            int32_t* close_status, const std::function<void()>& poll) {
  bool completed = false;
  {
    neutral::ReadAhead ahead(stream);
    if (poll) ahead.set_batch_hook(poll);
    Converter converter(ctx, ahead, listing, DBNUM, DDLCFG);
    completed = converter.run();
    int32_t ierr = 0;
    xdb::DBCLOS(ctx, 1, 0, ierr);
    if (close_status) *close_status = ierr;
  }  // the decoder has stopped: the stream is ours again
  stream.CVTEND();
  return completed;
}

}  // namespace app
