#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "engine/uProgress.h"

#include <QCoreApplication>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>

// A 1024x600 screen, the window maximised on it under a panel and a title
// bar: the run's buttons and its status row must stay on it, however long
// the status; the lists and the log give up their height instead.
using MainFormSmallScreen = TMainFormTest;

TEST_F(MainFormSmallScreen, ButtonsAndStatusRowStayInsideA1024x600Screen) {
    auto F = NewForm();
    // The designed size stays the default where there is room.
    EXPECT_GE(F->height(), 600);
    F->show();
    // What a maximised window keeps of 600 rows under a 30-row panel and its title bar.
    const QSize Small(1024, 540);
    EXPECT_LE(F->minimumSizeHint().height(), Small.height());
    EXPECT_LE(F->minimumSizeHint().width(), Small.width());
    F->resize(Small);
    // However long the status, the row does not widen the window.
    F->Progress()->SetStatus(QStringLiteral("Failed: ") + QString(400, QLatin1Char('x')));
    F->StatusLabel->setText(F->Progress()->Status());
    F->StatusLabel->setVisible(true);
    QCoreApplication::processEvents();
    ASSERT_EQ(F->size(), Small);
    const QRect Window = F->rect();
    for (QWidget* W : std::initializer_list<QWidget*>{F->StartButton, F->BreakButton, F->CloseButton,
                                                      F->ProgressPanel, F->StatusLabel}) {
        const QRect R(W->mapTo(F.get(), QPoint(0, 0)), W->size());
        EXPECT_TRUE(Window.contains(R)) << Str(W->objectName()) << " at " << R.x() << "," << R.y() << " "
                                        << R.width() << "x" << R.height();
        EXPECT_GT(R.height(), 0) << Str(W->objectName());
    }
    // The inputs of the left column fit its width: none is cut at the right.
    auto* Scroll = F->findChild<QAbstractScrollArea*>(QStringLiteral("LeftScroll"));
    ASSERT_NE(Scroll, nullptr);
    for (QWidget* W : std::initializer_list<QWidget*>{F->FamilyComboBox, F->PauseEdit, F->SourceClearButton})
        EXPECT_LE(W->mapTo(Scroll->viewport(), QPoint(W->width(), 0)).x(), Scroll->viewport()->width())
            << Str(W->objectName());
}
