#include "ui/shutdown_question.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>

namespace tessarine::ui {
namespace {

TEST(ShutdownQuestionTest, ReplyGoesIntoTheAnswer) {
    const struct {
        QMessageBox::StandardButton button;  // NoButton: the box is closed without a reply
        int state;
    } cases[] = {{QMessageBox::Yes, ShutdownAnswer::kYes},
                 {QMessageBox::No, ShutdownAnswer::kNo},
                 {QMessageBox::NoButton, ShutdownAnswer::kYes}};
    for (const auto& c : cases) {
        auto answer = std::make_shared<ShutdownAnswer>();
        QPointer<QMessageBox> box = ShowShutdownQuestion(answer);
        EXPECT_EQ(box->text(), "バックアップ終了後にシャットダウンしますか？");
        // The program's own box: its title as caption, the buttons in Japanese.
        EXPECT_EQ(box->windowTitle(), QCoreApplication::applicationName());
        EXPECT_EQ(box->button(QMessageBox::Yes)->text(), "はい(&Y)");
        EXPECT_EQ(box->button(QMessageBox::No)->text(), "いいえ(&N)");
        if (c.button == QMessageBox::NoButton) {
            box->done(-1);
        } else {
            box->button(c.button)->click();
        }
        EXPECT_EQ(answer->State(), c.state) << c.button;
        EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); }, 1000));
    }
}

TEST(ShutdownQuestionTest, BoxGoesAwayWhenTheRunHasDecided) {
    auto answer = std::make_shared<ShutdownAnswer>();
    QPointer<QMessageBox> box = ShowShutdownQuestion(answer);
    answer->Close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); }, 2000));
    EXPECT_EQ(answer->State(), ShutdownAnswer::kUnanswered);
}

}  // namespace
}  // namespace tessarine::ui
