// The windows as the platform shows them. Each test here runs twice: on the offscreen
// platform, and again on a real X server (Xvfb, started by the test), where Qt's xcb
// platform brings its own say: the title X11 hands the window manager, X11 key bindings
// (Ctrl+E is end-of-line in a line edit), and its own order of dialog buttons.

#include "app/aboutbox.h"
#include "app/mainunit.h"
#include "app/messageboxes.h"
#include "app/progress.h"
#include "app/settings1.h"
#include "shell/settingsstore.h"
#include "support/scripteddialogs.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

using namespace bw;

namespace {

bool OnX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

// A window's title as X11 holds it for the window manager.
std::string X11Title(QWidget& window) {
    const auto r = bwtest::Run({"xprop", "-id", std::to_string(window.winId()), "_NET_WM_NAME"});
    // _NET_WM_NAME(UTF8_STRING) = "Converting..."
    const size_t first = r.Out.find('"'), last = r.Out.rfind('"');
    if (r.ExitCode != 0 || first == std::string::npos || last <= first)
        return "(xprop: " + r.Out + r.Err + ")";
    return r.Out.substr(first + 1, last - first - 1);
}

// The buttons of a message box as they stand on screen, left to right, without their "&".
QString ButtonsLeftToRight(QMessageBox& box) {
    QList<QAbstractButton*> buttons = box.buttons();
    std::sort(buttons.begin(), buttons.end(), [&box](QAbstractButton* a, QAbstractButton* b) {
        return a->mapTo(&box, QPoint()).x() < b->mapTo(&box, QPoint()).x();
    });
    QStringList texts;
    for (QAbstractButton* b : buttons)
        texts << b->text().remove(QLatin1Char('&'));
    return texts.join(QStringLiteral(" | "));
}

class PlatformWindows : public ::testing::Test {
protected:
    std::unique_ptr<TForm1> Start() {
        store_ = std::make_unique<TSettingsStore>(QString::fromStdString(dir_.File("bw.conf")));
        return std::make_unique<TForm1>(dialogs_, *store_, QStringList{}, "prog");
    }

    bwtest::TTempDir dir_;
    TScriptedDialogs dialogs_;
    std::unique_ptr<TSettingsStore> store_;
};

} // namespace

// Runs the platform window tests again inside an X server of its own.
TEST(OnAnXServer, EveryTestPassesThereToo) {
    if (OnX11())
        GTEST_SKIP() << "already on X11";
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    const auto r = bwtest::Run({"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "env",
                                "QT_QPA_PLATFORM=xcb", self, "--gtest_filter=PlatformWindows.*"});
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("[  PASSED  ]"), std::string::npos) << r.Out << r.Err;
    EXPECT_EQ(r.Out.find("[  SKIPPED ]"), std::string::npos) << r.Out;
}

// Qt appends the application's display name to every window title that does not already
// end in it; the program sets none, so each window shows its own title and nothing else.
TEST_F(PlatformWindows, TitlesReadExactlyAsSet) {
    if (!OnX11())
        GTEST_SKIP() << "only X11 shows the title the window manager gets";
    SetApplicationIdentity();
    auto form = Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(X11Title(*form), "Brindlewave");
    auto* about = form->findChild<TAboutBox*>();
    ASSERT_NE(about, nullptr);
    for (QDialog* dialog : std::initializer_list<QDialog*>{&form->ProgressWindow(), &form->ResultWindow(),
                                                           &form->SettingsDialog(), about}) {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        EXPECT_EQ(X11Title(*dialog), dialog->windowTitle().toStdString());
        dialog->hide();
    }
    EXPECT_EQ(form->ProgressWindow().windowTitle(), "Converting...");
}

// The output folder field is read-only but still has a line edit's keys (Ctrl+A selects
// all; with X11 bindings Ctrl+E goes to the end): with the field focused the window's
// commands must win.
TEST_F(PlatformWindows, CommandKeysWorkWhileTheOutputFolderFieldHasFocus) {
    auto form = Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow(); // there is no window manager to do it
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    auto* field = form->findChild<QLineEdit*>("EditOutputFolder");
    ASSERT_NE(field, nullptr);
    field->setFocus();
    ASSERT_TRUE(field->hasFocus());
    const std::vector<std::pair<const char*, QKeyCombination>> keys{
        {"ActionCheckAll", Qt::CTRL | Qt::Key_A},     {"ActionUncheckAll", Qt::CTRL | Qt::Key_U},
        {"ActionInvertAll", Qt::CTRL | Qt::Key_V},    {"ActionRemove", QKeyCombination(Qt::Key_Delete)},
        {"ActionSelectOutput", Qt::CTRL | Qt::Key_O}, {"ActionExit", Qt::CTRL | Qt::Key_E},
    };
    for (const auto& [name, key] : keys) {
        QSignalSpy triggered(form->Action(name), &QAction::triggered);
        QTest::keyClick(field, key.key(), key.keyboardModifiers());
        EXPECT_EQ(triggered.count(), 1) << name;
    }
}

// A question shows its buttons in the order asked for, the first the default, and Escape
// gives what closing the box gives.
TEST_F(PlatformWindows, QuestionButtonsStandInTheGivenOrderAndEscapeCloses) {
    struct TCase {
        std::vector<TAnswer> Buttons;
        QString Shown;
        TAnswer OnEscape;
    };
    const std::vector<TCase> cases{
        {{TAnswer::Yes, TAnswer::No, TAnswer::YesToAll}, "Yes | No | Yes to All", TAnswer::No},
        {{TAnswer::Ok, TAnswer::Cancel}, "OK | Cancel", TAnswer::Cancel},
    };
    for (const TCase& c : cases) {
        TMessageBoxes boxes;
        QString shown, defaultButton;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shown = ButtonsLeftToRight(*box);
            if (box->defaultButton())
                defaultButton = box->defaultButton()->text().remove(QLatin1Char('&'));
            QTest::keyClick(box, Qt::Key_Escape);
        });
        const TAnswer answer = boxes.Ask(TMessageKind::Confirmation, "Confirm", "Sure?", c.Buttons);
        EXPECT_EQ(shown.toStdString(), c.Shown.toStdString());
        EXPECT_EQ(defaultButton.toStdString(), c.Shown.section(QLatin1Char(' '), 0, 0).toStdString());
        EXPECT_EQ(answer, c.OnEscape);
    }
}
