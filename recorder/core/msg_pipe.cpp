#include "core/msg_pipe.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "core/trace.h"

#define TAG "MSG_____"

namespace {

struct MsgNode {
  MsgRecord record;
  size_t length;
  std::atomic<MsgNode*> next;
};

struct MsgPipe {
  std::mutex mutex;
  std::atomic<MsgNode*> head{nullptr};  // read without the lock by the pipe's one reader
  MsgNode* tail = nullptr;
};

std::atomic<MsgPipe*> msg_pipe[MSG_PIPE_COUNT];
std::atomic<int> opencount{0};
// Serialises only the creation and release of pipe headers, never the traffic on a pipe.
std::mutex gPipeCreation;

bool validPipe(int pipe) { return pipe >= 0 && pipe < MSG_PIPE_COUNT; }

// The header of a pipe, created on the first send. Two first senders of one number get the same
// header: the second finds it under the creation lock.
MsgPipe* pipeForSend(int pipe) {
  MsgPipe* p = msg_pipe[pipe].load(std::memory_order_acquire);
  if (p) return p;
  std::lock_guard<std::mutex> lock(gPipeCreation);
  p = msg_pipe[pipe].load(std::memory_order_acquire);
  if (p) return p;
  p = new (std::nothrow) MsgPipe;
  if (!p) {
    TRACE(TAG, "can't alloc memory for msg");
    return nullptr;
  }
  msg_pipe[pipe].store(p, std::memory_order_release);
  return p;
}

void freeNode(MsgNode* node) {
  if (node->record.block) free(node->record.block);
  delete node;
}

}  // namespace

void MsgOpen() { opencount.fetch_add(1); }

int MsgClose() {
  int count = opencount.load();
  do {
    if (count <= 0) return 0;
  } while (!opencount.compare_exchange_weak(count, count - 1));
  if (count - 1 != 0) return 0;

  std::lock_guard<std::mutex> lock(gPipeCreation);
  for (int i = 0; i < MSG_PIPE_COUNT; ++i) {
    MsgPipe* p = msg_pipe[i].exchange(nullptr);
    if (!p) continue;
    MsgNode* node = p->head.load();
    while (node) {
      MsgNode* next = node->next.load();
      freeNode(node);
      node = next;
    }
    delete p;
  }
  return 0;
}

int MsgSend(const void* record, size_t length) {
  if (record == nullptr || length > MSG_LENGTH) return -1;
  uint32_t dst = static_cast<const MsgRecord*>(record)->word[MSG_W_PIPE];
  if (dst >= static_cast<uint32_t>(MSG_PIPE_COUNT)) return -1;
  MsgPipe* p = pipeForSend(static_cast<int>(dst));
  if (!p) return -1;

  MsgNode* node = new (std::nothrow) MsgNode;
  if (!node) return -1;
  memset(&node->record, 0, sizeof node->record);
  memcpy(&node->record, record, length);
  node->length = length;
  node->next.store(nullptr, std::memory_order_relaxed);

  std::lock_guard<std::mutex> lock(p->mutex);
  if (p->tail) {
    p->tail->next.store(node, std::memory_order_release);
  } else {
    p->head.store(node, std::memory_order_release);
  }
  p->tail = node;
  return 0;
}

int MsgRecv(MsgRecord** record, int pipe) {
  if (pipe >= MSG_PIPE_COUNT) {
    TRACE(TAG, "can't open more msg");
    return -1;
  }
  if (pipe < 0) return -1;
  MsgPipe* p = msg_pipe[pipe].load(std::memory_order_acquire);
  if (!p) return -1;
  // Without the lock: a node is complete before it is linked, and only this pipe's one reader
  // ever removes nodes.
  MsgNode* head = p->head.load(std::memory_order_acquire);
  if (!head) return -1;
  *record = &head->record;
  return 0;
}

int MsgDone(int pipe) {
  if (pipe >= MSG_PIPE_COUNT) {
    TRACE(TAG, "can't open more msg");
    return -1;
  }
  if (!validPipe(pipe)) return -1;
  MsgPipe* p = msg_pipe[pipe].load(std::memory_order_acquire);
  if (!p) return -1;
  MsgNode* head;
  {
    std::lock_guard<std::mutex> lock(p->mutex);
    head = p->head.load(std::memory_order_relaxed);
    if (!head) return 0;
    MsgNode* next = head->next.load(std::memory_order_relaxed);
    p->head.store(next, std::memory_order_release);
    if (!next) p->tail = nullptr;
  }
  freeNode(head);
  return 0;
}

int MsgClear(int pipe) {
  if (pipe >= MSG_PIPE_COUNT) {
    TRACE(TAG, "can't open more msg");
    return -1;
  }
  MsgRecord* record;
  while (MsgRecv(&record, pipe) == 0) MsgDone(pipe);
  return 0;
}

int MsgOpenCount() { return opencount.load(); }

int MsgPipeDepth(int pipe) {
  if (!validPipe(pipe)) return -1;
  // The creation lock keeps MsgClose from freeing the header while it is walked.
  std::lock_guard<std::mutex> creation(gPipeCreation);
  MsgPipe* p = msg_pipe[pipe].load(std::memory_order_acquire);
  if (!p) return -1;
  std::lock_guard<std::mutex> lock(p->mutex);
  int depth = 0;
  for (MsgNode* n = p->head.load(std::memory_order_relaxed); n; n = n->next.load(std::memory_order_relaxed)) ++depth;
  return depth;
}

MsgRecord MsgMake(uint32_t pipe, uint32_t sender, uint32_t id) {
  MsgRecord r;
  memset(&r, 0, sizeof r);
  r.word[MSG_W_PIPE] = pipe;
  r.word[MSG_W_SENDER] = sender;
  r.word[MSG_W_ID] = id;
  return r;
}
