// Render lists: draw nodes in descending priority, drawn once a frame from
// the head (highest priority, furthest back) down.
#pragma once
#include <atomic>
#include <mutex>
#include <thread>

#include "kiv.h"

struct KivRenderNode {
  void* object;
  KivDrawProc draw;
  int priority;
  int lockFlag;  // unused in nodes
  KivRenderNode* next;
  KivRenderNode* prev;
};

// The lock flag is a real lock: one holder at a time, re-entrant for the
// thread that holds it, so a task that locks during the walk cannot stall
// its own frame.
struct KivRenderList {
  KivRenderNode head{};
  std::mutex cs;
  std::atomic<int> lockFlag{0};
  std::atomic<std::thread::id> owner{};
  int depth = 0;
};

bool KivRenderListTryLock(KivRenderList* list);
void KivRenderListLock(KivRenderList* list);
void KivRenderListUnlock(KivRenderList* list);
int KivRenderRemoveNode(KivRenderList* list, void* object);
int KivRenderFrame(void);
// The render pass when this frame shows anything new (frame_change.cpp):
// 1 drawn, 2 the screen holds this frame already, 0 not drawn.
int KivRenderFrameIfChanged(void);
// Forgets the last drawn frame: the next one is drawn whatever it shows.
void KivFrameChangeReset(void);
