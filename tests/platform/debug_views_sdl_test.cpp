// The SDL2 debug views under a virtual X display: a view opens as an extra
// window at its place, shows the drawn list, and turns the window system's
// events (a click on the menu row, a double click on a row, typed text,
// Enter, closing) into the views' events.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include "platform/debugview/debug_view.h"

namespace plat {
bool SdlDebugViewsOnEvent(const SDL_Event& e);
}

namespace {

TEST(SdlDebugViews, OpenDrawAndTranslateEvents) {
  auto views = plat::MakeSdlDebugViews();
  const int id = views->Open("status", plat::Rect{30, 40, 330, 200});
  ASSERT_GT(id, 0);
  views->Show(id, true);
  plat::ListViewModel m;
  m.columns = {{"status", 60}, {"status2", 200}};
  m.rows = {{"fps", "60"}, {"task", "3"}};
  m.menu = {{40001, "show all", false}, {40003, "end", false}};
  views->Update(id, m);
  const plat::Rect r = views->Place(id);
  EXPECT_EQ(r.width(), 300);
  EXPECT_EQ(r.height(), 160);

  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.windowID = static_cast<uint32_t>(id);
  e.button.button = SDL_BUTTON_LEFT;
  e.button.clicks = 1;
  e.button.x = 5;
  e.button.y = 5;
  EXPECT_TRUE(plat::SdlDebugViewsOnEvent(e));
  e.button.clicks = 2;
  e.button.y = plat::kListMenuHeight + plat::kListHeaderHeight + plat::kListRowHeight + 3;
  EXPECT_TRUE(plat::SdlDebugViewsOnEvent(e));
  SDL_Event t{};
  t.type = SDL_TEXTINPUT;
  t.text.windowID = static_cast<uint32_t>(id);
  std::snprintf(t.text.text, sizeof t.text.text, "%s", "12");
  EXPECT_TRUE(plat::SdlDebugViewsOnEvent(t));
  SDL_Event k{};
  k.type = SDL_KEYDOWN;
  k.key.windowID = static_cast<uint32_t>(id);
  k.key.keysym.sym = SDLK_RETURN;
  EXPECT_TRUE(plat::SdlDebugViewsOnEvent(k));
  SDL_Event c{};
  c.type = SDL_WINDOWEVENT;
  c.window.windowID = static_cast<uint32_t>(id);
  c.window.event = SDL_WINDOWEVENT_CLOSE;
  EXPECT_TRUE(plat::SdlDebugViewsOnEvent(c));
  c.window.windowID = 9999;
  EXPECT_FALSE(plat::SdlDebugViewsOnEvent(c)) << "another window's event is not the views'";

  plat::DebugViewEvent ev;
  ASSERT_TRUE(views->Poll(&ev));
  EXPECT_EQ(ev.kind, plat::DebugViewEvent::kMenu);
  EXPECT_EQ(ev.value, 40001);
  ASSERT_TRUE(views->Poll(&ev));
  EXPECT_EQ(ev.kind, plat::DebugViewEvent::kEditStart);
  EXPECT_EQ(ev.value, 1);
  ASSERT_TRUE(views->Poll(&ev));
  EXPECT_EQ(ev.kind, plat::DebugViewEvent::kEditText);
  EXPECT_EQ(ev.text, "12");
  ASSERT_TRUE(views->Poll(&ev));
  EXPECT_EQ(ev.kind, plat::DebugViewEvent::kEditCommit);
  ASSERT_TRUE(views->Poll(&ev));
  EXPECT_EQ(ev.kind, plat::DebugViewEvent::kClose);
  EXPECT_FALSE(views->Poll(&ev));
  views->Close(id);
}

}  // namespace
