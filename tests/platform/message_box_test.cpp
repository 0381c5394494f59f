// Message boxes that a player answers, and boxes nobody can see: each
// question then takes the answer that loses no data and does what the
// player asked. "Not shown" is met twice: a headless run with no scripted
// answer, and the real backend with no display to open a box on.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/core/backend.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"

namespace {

enum class Shown { kAnswered, kHeadlessUnscripted, kNoDisplay };

struct Question {
  const char* name;
  const char* text;      // UTF-8
  uint32_t type;
  int unshown_answer;    // what the asking code passes
  int pressed;           // what the player presses when the box is shown
  int answer_unshown;    // what the code gets when nobody saw the box
};

// The three kinds of box the game asks, with the unshown answers their
// callers give: the close question ends (the player asked to), the
// build-stamp question keeps the saves, a warning is acknowledged.
const Question kQuestions[] = {
    {"close question", "本当に終了しますか？", plat::kMbYesNo | plat::kMbIconQuestion, plat::kIdYes, plat::kIdNo,
     plat::kIdYes},
    {"stamp question", "スクリプトファイルが更新されています。\nシステムデータ/セーブデータを削除しますか？",
     plat::kMbYesNo | plat::kMbIconQuestion, plat::kIdNo, plat::kIdYes, plat::kIdNo},
    {"warning", "お使いのグラフィックカードが DirectX9.0c に対応しておりません。", plat::kMbOk | plat::kMbIconWarning,
     plat::kNoUnshownAnswer, plat::kIdOk, plat::kIdOk},
};

class MessageBoxFallback : public ::testing::Test {
 protected:
  void SetUp() override { plat::HeadlessBoxReset(); }
  void TearDown() override {
    plat::HeadlessBoxReset();
    plat::SetMessageBoxBackendKind(plat::Backend::kHeadless);
  }
};

TEST_F(MessageBoxFallback, EachQuestionTakesTheAnswerThatLosesNothing) {
  for (const Question& q : kQuestions) {
    for (Shown shown : {Shown::kAnswered, Shown::kHeadlessUnscripted, Shown::kNoDisplay}) {
      SCOPED_TRACE(std::string(q.name) + " / " +
                   (shown == Shown::kAnswered ? "shown" : shown == Shown::kNoDisplay ? "no display" : "headless"));
      plat::HeadlessBoxReset();
      if (shown == Shown::kNoDisplay) {
        // The real backend on a video driver that cannot open a box, and
        // no X display to fall back to.
        ::setenv("SDL_VIDEODRIVER", "dummy", 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        plat::SetMessageBoxBackendKind(plat::Backend::kReal);
      } else {
        plat::SetMessageBoxBackendKind(plat::Backend::kHeadless);
        if (shown == Shown::kAnswered) plat::HeadlessBoxScript({q.pressed});
      }
      const int answer = plat::MessageBox(nullptr, plat::Sjis(q.text), plat::Sjis("caption"), q.type, q.unshown_answer);
      EXPECT_EQ(answer, shown == Shown::kAnswered ? q.pressed : q.answer_unshown);
      if (shown != Shown::kNoDisplay) {
        auto log = plat::HeadlessBoxLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].text, plat::Sjis(q.text));
        EXPECT_EQ(log[0].answer, answer);
      }
    }
  }
}

TEST_F(MessageBoxFallback, AnUnshownAnswerThatDoesNotFitTheBoxIsIgnored) {
  // An OK box answers OK whatever the caller named; a question never gets OK.
  EXPECT_EQ(plat::UnshownAnswer(plat::kMbOk, plat::kIdYes), plat::kIdOk);
  EXPECT_EQ(plat::UnshownAnswer(plat::kMbYesNo, plat::kIdOk), plat::kIdNo);
  EXPECT_EQ(plat::UnshownAnswer(plat::kMbYesNo, plat::kNoUnshownAnswer), plat::kIdNo);
  EXPECT_EQ(plat::UnshownAnswer(plat::kMbYesNo | plat::kMbIconQuestion, plat::kIdYes), plat::kIdYes);
}

}  // namespace
