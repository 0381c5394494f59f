// Tasks: per-frame procedures in a tree, walked once a frame on the game
// thread, children before their parent.
#pragma once
#include <cstdint>

#include "kiv.h"

constexpr int kKivTaskPoolSize = 512;

struct KivTask {
  void* data;
  int dataSize;
  KivTaskProc proc;
  KivTaskReleaseProc releaseProc;
  int message;
  const char* name;
  uint32_t mode;  // low 16 bits placement, 0x10000 blocking
  uint8_t state;  // 0 free, 1 running, 2 releasing, 3 child-list head
  KivTask* next;
  KivTask* prev;  // for the first task of a list: the list's head
  KivTask* children;
  bool releasing;  // set by KivTaskFree: the release procedure is what runs next
};

struct KivTaskPool {
  KivTask* root = nullptr;
  KivTask* current = nullptr;
  KivTask* defaultTask = nullptr;
  KivTask* slots = nullptr;
  int size = 0;
  int cursor = 0;
  int live = 0;
};

int KivTaskInit(void);
void KivTaskWalk(KivTask* head);
void KivTaskWalkRoot(void);
void KivTaskUninit(void);
void* KivTaskFirstRootData(void);
