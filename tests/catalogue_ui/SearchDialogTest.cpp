// The title search from the main window: the 3-character rule, the hit
// list, "Перейти" and the controls while the search runs.
#include <QColor>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <map>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

#include "catalogue/Browse.h"
#include "catalogue/ui/BookListModel.h"
#include "platform/Dialogs.h"
#include "tests/catalogue_ui/SearchWindowFixture.h"

using namespace catalogue;

namespace {

class SearchDialogTest : public h9test::TWindowTest {
 protected:
  // Types `text` in ES and runs the search; `answer` closes the dialog if it
  // opens. Returns whether it opened.
  bool Search(const char* text, const std::function<void(TFS*)>& answer) {
    f_->ES->setText(QString::fromUtf8(text));
    return h9test::AnswerModal(
        [&](QWidget* w) {
          auto* dialog = qobject_cast<TFS*>(w);
          ASSERT_EQ(dialog, fs_);
          answer(dialog);
        },
        [&] { TB_FINDClick(*f_); });
  }
  static void Cancel(TFS* d) { d->CancelBtn->click(); }
};

TEST_F(SearchDialogTest, ShortTextsAndStarsAloneAreRefusedAndNothingDoesNothing) {
  UseReference("small");
  Start();
  platform::TScriptedDialogs script;
  platform::TDialogProviderScope scope(&script);

  EXPECT_FALSE(Search("сa", Cancel));
  EXPECT_FALSE(Search("**ад*", Cancel));  // stars do not count
  EXPECT_FALSE(Search("***", Cancel));
  ASSERT_EQ(script.asked.size(), 3u);
  for (const auto& asked : script.asked) {
    EXPECT_EQ(asked.text, "Не меньше 3-х символов для поиска");
    EXPECT_EQ(asked.caption, "");
    EXPECT_EQ(asked.buttons, platform::TMsgDlgButtons{platform::mrOk});
  }

  EXPECT_FALSE(Search("", Cancel));
  EXPECT_EQ(script.asked.size(), 3u);
  EXPECT_EQ(fs_->HitCount(), 0);
}

TEST_F(SearchDialogTest, AHitTakesTheMainWindowToItsAuthorAndBook) {
  UseReference("small");
  Start();
  ASSERT_EQ(f_->LBItemIndex(), 0);

  TTitleHit chosen;
  const bool opened = Search("САД", [&](TFS* d) {
    EXPECT_EQ(d->focusWidget(), d->LS);
    const QAbstractItemModel* m = d->LS->model();
    ASSERT_GT(m->rowCount(), 1);
    // Any letter case: the title holds "сад" or "Сад".
    const int row = m->rowCount() - 1;
    EXPECT_TRUE(m->index(row, 1).data().toString().contains(QStringLiteral("сад"), Qt::CaseInsensitive));
    chosen = d->LSModel->Hit(row);
    EXPECT_EQ(m->index(row, 0).data().toString().toStdString(),
              platform::AnsiToUtf8(AppState().authors[chosen.authorIndex]));
    d->LS->setCurrentIndex(m->index(row, 0));
    d->OKBtn->click();
  });
  ASSERT_TRUE(opened);
  EXPECT_FALSE(fs_->isVisible());
  EXPECT_EQ(fs_->result(), QDialog::Accepted);
  ASSERT_NE(chosen.authorIndex, 0);
  EXPECT_EQ(f_->LBItemIndex(), chosen.authorIndex);
  EXPECT_EQ(SelectedBook(), platform::AnsiToUtf8(chosen.file));
  EXPECT_EQ(f_->LV->currentIndex().row(), f_->LV->selectionModel()->selectedRows().first().row());

  // The controls are back after the search.
  EXPECT_TRUE(f_->TB_FIND->isEnabled());
  EXPECT_TRUE(f_->ES->isEnabled());
  EXPECT_TRUE(f_->LB->isEnabled());
}

TEST_F(SearchDialogTest, GoWithoutASelectedHitOnlyCloses) {
  UseReference("small");
  Start();
  f_->SelectAuthor(3);
  f_->LV->setCurrentIndex(f_->LV->model()->index(0, 0));
  const std::string book = SelectedBook();
  ASSERT_NE(book, "");
  ASSERT_TRUE(Search("сад", [](TFS* d) {
    d->LS->clearSelection();
    d->OKBtn->click();
  }));
  EXPECT_EQ(fs_->result(), QDialog::Accepted);
  EXPECT_EQ(f_->LBItemIndex(), 3);
  EXPECT_EQ(SelectedBook(), book);
}

TEST_F(SearchDialogTest, NoHitsOpenNoDialogAndTheLastHitsAreGone) {
  UseReference("small");
  Start();
  platform::TScriptedDialogs script;
  platform::TDialogProviderScope scope(&script);
  find1Click(*f_);  // before any search: said, no empty list
  ASSERT_TRUE(Search("сад", Cancel));
  const int hits = fs_->HitCount();
  EXPECT_GT(hits, 0);
  EXPECT_EQ(fs_->LHITS->text().toStdString(), HitCountText(hits));
  // Ctrl+F shows them again.
  EXPECT_TRUE(h9test::AnswerModal(
      [&](QWidget* w) {
        EXPECT_EQ(w, fs_);
        EXPECT_EQ(fs_->HitCount(), hits);
        fs_->reject();
      },
      [&] { find1Click(*f_); }));

  EXPECT_FALSE(Search("zzzzzz", Cancel));
  EXPECT_EQ(fs_->HitCount(), 0);
  EXPECT_FALSE(h9test::AnswerModal([](QWidget*) {}, [&] { find1Click(*f_); }));
  ASSERT_EQ(script.asked.size(), 3u);
  EXPECT_EQ(script.asked[0].text, kMsgNoSearchYet);
  EXPECT_EQ(script.asked[1].text, "По запросу «zzzzzz» ничего не найдено.");
  EXPECT_EQ(script.asked[2].text, script.asked[1].text);
}

TEST_F(SearchDialogTest, DuplicatesAreListedGreyOnlyWhenShown) {
  UseReference("small");
  Start();
  // Every title, duplicates hidden (the default) and then shown.
  findBook(*f_, "*");
  const int hidden = fs_->HitCount();
  AppState().hideDuplicates = false;
  findBook(*f_, "*");
  const int shown = fs_->HitCount();
  EXPECT_GT(shown, hidden);
  int grey = 0;
  const QAbstractItemModel* m = fs_->LS->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    const QVariant colour = m->index(r, 1).data(Qt::ForegroundRole);
    if (fs_->LSModel->Hit(r).duplicate) {
      EXPECT_EQ(colour.value<QColor>(), QColor(TBookListModel::kDuplicateColor));
      ++grey;
    } else {
      EXPECT_FALSE(colour.isValid());
    }
  }
  EXPECT_EQ(grey, shown - hidden);
}

TEST_F(SearchDialogTest, ControlsAreOffWhileTheSearchReadsAndBackAfterAnError) {
  UseReference("small");
  Start();
  AppState().blockCache.Clear();
  bool enabledDuringRead = true;
  catalogue::TZipMemberReaderScope watch(
      [&](const std::string& zip, const std::string& member, int64_t n) {
        enabledDuringRead = f_->TB_FIND->isEnabled() || f_->ES->isEnabled() ||
                            f_->TB_CREDB->isEnabled() || f_->LB->isEnabled();
        return reader_(zip, member, n);
      });
  EXPECT_TRUE(Search("сад", Cancel));
  EXPECT_FALSE(enabledDuringRead);
  EXPECT_TRUE(f_->TB_FIND->isEnabled());
  EXPECT_FALSE(f_->JobRunning());

  AppState().blockCache.Clear();
  reader_.SetFailing(true);
  platform::TScriptedDialogs script;
  platform::TDialogProviderScope scope(&script);
  EXPECT_FALSE(Search("сад", Cancel));  // told, not thrown at the event loop
  ASSERT_EQ(script.asked.size(), 2u);  // the damage, then the search's own outcome
  EXPECT_EQ(script.asked[1].text, NoHitsMessage("сад") + "\n\n" + PartNotSearchedText(fs_->Damage()));
  EXPECT_FALSE(fs_->Damage().empty());
  EXPECT_EQ(fs_->HitCount(), 0);
  EXPECT_TRUE(f_->TB_FIND->isEnabled());
  EXPECT_FALSE(f_->JobRunning());
}

TEST_F(SearchDialogTest, WithoutACatalogueNothingIsFound) {
  Start();
  EXPECT_FALSE(Search("сад", Cancel));
  EXPECT_EQ(fs_->HitCount(), 0);
  EXPECT_EQ(reader_.TotalReads(), 0);
}

TEST_F(SearchDialogTest, GotoBookIgnoresAnAuthorOutsideTheList) {
  UseReference("small");
  Start();
  f_->SelectAuthor(2);
  gotoBook(*f_, -1, "1");
  gotoBook(*f_, static_cast<int32_t>(AppState().authors.size()), "1");
  EXPECT_EQ(f_->LBItemIndex(), 2);
  // A file the author lacks selects the author and no book.
  gotoBook(*f_, 5, "no such file");
  EXPECT_EQ(f_->LBItemIndex(), 5);
  EXPECT_EQ(SelectedBook(), "");
}

TEST_F(SearchDialogTest, TheToolBarEnterAndCtrlFRunTheCommands) {
  UseReference("small");
  Start();
  f_->ES->setText(QStringLiteral("сад"));
  auto close = [](QWidget* w) { static_cast<QDialog*>(w)->reject(); };
  EXPECT_TRUE(h9test::AnswerModal(close, [&] { f_->TB_FIND->click(); }));
  const int hits = fs_->HitCount();
  EXPECT_GT(hits, 0);
  fs_->LSModel->SetHits({});
  EXPECT_TRUE(h9test::AnswerModal(close, [&] { emit f_->ES->returnPressed(); }));
  EXPECT_EQ(fs_->HitCount(), hits);
  EXPECT_TRUE(h9test::AnswerModal(close, [&] { f_->find1->trigger(); }));
  {
    TJobScope job(*f_);  // a build, say
    EXPECT_FALSE(h9test::AnswerModal(close, [&] { f_->find1->trigger(); }));
  }

  // A catalogue that cannot be read is reported, not thrown at the event loop.
  platform::TScriptedDialogs script;
  platform::TDialogProviderScope scope(&script);
  AppState().blockCache.Clear();
  reader_.SetFailing(true);
  EXPECT_FALSE(h9test::AnswerModal(close, [&] { f_->TB_FIND->click(); }));
  ASSERT_EQ(script.asked.size(), 2u);
  EXPECT_EQ(script.asked[0].type, platform::TMsgDlgType::mtError);
  EXPECT_TRUE(f_->TB_FIND->isEnabled());
}

}  // namespace

namespace {

TEST_F(SearchDialogTest, TheFileColumnIsNeverCutAndEnterGoesToTheMarkedHit) {
  UseReference("small");
  Start();
  TTitleHit first;
  std::string single;  // a title only one hit has
  ASSERT_TRUE(Search("???", [&](TFS* d) {
    QCoreApplication::processEvents();
    QTreeView* ls = d->LS;
    const QHeaderView* header = ls->header();
    ASSERT_GT(d->HitCount(), 30);
    EXPECT_TRUE(ls->verticalScrollBar()->isVisible());
    EXPECT_FALSE(ls->horizontalScrollBar()->isVisible());
    int widest = 0;
    std::map<std::string, int> titles;
    for (int r = 0; r < d->HitCount(); ++r) {
      widest = std::max(widest, ls->fontMetrics().horizontalAdvance(
                                    ls->model()->index(r, 2).data().toString()));
      ++titles[platform::AnsiToUtf8(d->LSModel->Hit(r).title)];
    }
    EXPECT_GT(header->sectionSize(2), widest);
    EXPECT_LE(header->sectionViewportPosition(2) + header->sectionSize(2),
              ls->viewport()->width());
    for (const auto& [title, n] : titles) {
      if (n == 1 && title.size() >= 6 && title.find_first_of("*?%") == std::string::npos) {
        single = title;
        break;
      }
    }

    // The first hit is marked and selected: Enter takes the window to it.
    ASSERT_EQ(ls->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(ls->selectionModel()->selectedRows().first().row(), 0);
    EXPECT_EQ(ls->currentIndex().row(), 0);
    first = d->LSModel->Hit(0);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(ls, &enter);
  }));
  EXPECT_EQ(fs_->result(), QDialog::Accepted);
  EXPECT_EQ(f_->LBItemIndex(), first.authorIndex);
  EXPECT_EQ(SelectedBook(), platform::AnsiToUtf8(first.file));

  // One hit: no scroll bar at all.
  ASSERT_FALSE(single.empty());
  ASSERT_TRUE(Search(single.c_str(), [&](TFS* d) {
    QCoreApplication::processEvents();
    EXPECT_EQ(d->HitCount(), 1);
    EXPECT_FALSE(d->LS->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(d->LS->verticalScrollBar()->isVisible());
    d->CancelBtn->click();
  }));
}

}  // namespace
