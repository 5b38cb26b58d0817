#pragma once
// Deflates the file members of an archive on several threads, ahead of the
// one thread that writes the archive in order.
//
// A member up to the chunk size is deflated whole by one thread from its own
// start, so its data are exactly what the single-threaded writer produces. A
// larger member is cut into chunks of that size, each deflated by any thread
// with the 32 KiB before it as its dictionary; every chunk but the last ends
// on a byte boundary without a final block, so the chunks' streams put one
// after the other form the member's stream.
//
// Memory stays bounded whatever the input: threads take chunks only while
// the deflated data waiting for the writer, with the chunks being deflated,
// stay within a budget per thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace quindo {

class Deflater;

// One file member's deflated data, made elsewhere, as the writer takes it:
// piece by piece, in order.
class DeflatedMember {
 public:
  virtual ~DeflatedMember() = default;
  // Waits for the next piece of the stream; false after the last one. A
  // piece stays valid until the next call.
  virtual bool Next(std::span<const uint8_t>& piece) = 0;
  // The source bytes and their CRC-32 that the pieces so far stand for.
  virtual uint64_t RawSize() const = 0;
  virtual uint32_t Crc() const = 0;
  // The general-purpose flag bits of the level.
  virtual uint16_t Flags() const = 0;
  // The stream ended early because a read of the source failed.
  virtual bool ReadFailed() const = 0;
  // The compressor failed: the member's data are unusable.
  virtual bool Failed() const = 0;
};

class ParallelDeflate {
 public:
  static constexpr size_t kDefaultChunkSize = size_t{1} << 20;
  // Deflated data in flight per thread, chunks being deflated included.
  static constexpr size_t kBudgetPerThread = size_t{4} << 20;
  static constexpr int kMaxThreads = 64;

  // `threads` (1 to kMaxThreads) deflate at `level`; `abortFlag` stops them.
  // `chunkSize` (at least 64 KiB) is also the size up to which a member is
  // deflated whole.
  ParallelDeflate(int threads, int level, const std::atomic<bool>& abortFlag,
                  size_t chunkSize = kDefaultChunkSize);
  ~ParallelDeflate();
  ParallelDeflate(const ParallelDeflate&) = delete;
  ParallelDeflate& operator=(const ParallelDeflate&) = delete;

  // Plans the file at `path`, of `size` bytes as listed; answers its number
  // (SIZE_MAX after Start). Members are numbered, deflated and taken in this
  // order, each at most once.
  size_t Add(std::string path, uint64_t size);
  void Start();

  // The data of member `number`, once its first piece is ready. Members
  // before it that were not taken are dropped. Null when the member is to be
  // written the single-threaded way: its source could not be read as
  // planned (it could not be opened, failed to read, grew past the chunk
  // size), or the abort flag is set. The object serves until the next Take.
  DeflatedMember* Take(size_t number);

 private:
  enum class Status { Pending, Done, Short, ReadError, Unplanned, Stopped, Failed };
  struct Chunk {
    Status status = Status::Pending;
    bool final = false;     // its stream ends with the final block
    std::vector<uint8_t> data;
    uint64_t rawSize = 0;
    uint32_t crc = 0;
    uint32_t dictionaryCrc = 0;  // of the 32 KiB it was primed with
    uint32_t tailCrc = 0;        // of its last 32 KiB
    uint16_t flags = 0;
    size_t cost = 0;             // its share of the budget, while it holds one
  };
  struct Member {
    std::string path;
    uint64_t size = 0;
    bool whole = true;  // deflated from its own start by one thread
    bool dropped = false;
    std::vector<Chunk> chunks;
  };
  class Reader;

  void Work();
  Status DeflateWhole(Member& member, Chunk& chunk, Deflater& deflater);
  Status DeflateChunk(Member& member, size_t index, Chunk& chunk, Deflater& deflater,
                      std::vector<uint8_t>& input);
  bool Stopping() const;
  // With the lock held.
  void Release(Chunk& chunk);
  void Drop(size_t number);
  // Waits until the chunk is done; false when the abort flag came first.
  // The writer taking member `from` sleeps on until the members through
  // `through` have their first chunk done too, unless the threads run out
  // of budget: it then writes several members for one wake-up.
  bool WaitFor(std::unique_lock<std::mutex>& lock, const Chunk& chunk, size_t from = 0, size_t through = 0);
  // With the lock held: the chunk the writer waits for and the ones it asked
  // for with it are done.
  bool WriterMayGo() const;

  const int threadCount_;
  const int level_;
  const std::atomic<bool>& abortFlag_;
  const size_t chunkSize_;
  const size_t budget_;

  std::mutex mutex_;
  std::condition_variable workReady_;  // budget freed, or shutting down
  std::condition_variable chunkDone_;
  std::vector<Member> members_;
  size_t nextMember_ = 0;  // the next chunk to hand out
  size_t nextChunk_ = 0;
  size_t reserved_ = 0;
  size_t firstKept_ = 0;  // members before it were dropped
  size_t nextTake_ = 0;   // members before it were taken or dropped
  const Chunk* awaited_ = nullptr;  // the chunk the writer sleeps for
  size_t awaitedFrom_ = 0, awaitedThrough_ = 0;
  int starved_ = 0;  // threads waiting for budget
  std::atomic<bool> shutdown_{false};
  std::vector<std::thread> threads_;
  std::unique_ptr<Reader> reader_;
};

}  // namespace quindo
