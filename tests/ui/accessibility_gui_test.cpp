#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QToolButton>
#include <functional>

#include "ui/gui_support.h"

namespace dravion::test {
namespace {

// The accessibility tree as assistive technology sees it (the AT-SPI bridge walks the same
// interfaces): every node's role and name, depth first.
struct Node {
  QAccessible::Role role;
  QString name;
  QAccessible::State state;
  QObject* object;
};

std::vector<Node> Tree(QWidget* top) {
  std::vector<Node> nodes;
  std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* node,
                                                             int depth) {
    if (!node || !node->isValid() || depth > 40) return;
    nodes.push_back({node->role(), node->text(QAccessible::Name), node->state(), node->object()});
    for (int i = 0; i < node->childCount(); ++i)
      walk(node->child(i), depth + 1);
  };
  walk(QAccessible::queryAccessibleInterface(top), 0);
  return nodes;
}

bool Pressable(QAccessible::Role role) {
  switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::MenuItem:
    case QAccessible::PageTab:
    case QAccessible::ComboBox:
    case QAccessible::ButtonMenu:
      return true;
    default:
      return false;
  }
}

TEST(AccessibilityGui, LanguageSwitchIsOnTheTreeWithItsCaption) {
  Window w;
  w.form.show();
  auto* button = w.Get<QToolButton>("ToolButton_Language");
  w.form.ApplyLanguage();
  for (const char* expected : {"RUS - Выбор языка", "ENG - Language"}) {
    if (QString::fromUtf8(expected).startsWith(QStringLiteral("ENG"))) w.form.OnLanguageTriggered();
    const auto nodes = Tree(&w.form);
    const auto found =
        std::find_if(nodes.begin(), nodes.end(), [&](const Node& n) { return n.object == button; });
    ASSERT_NE(found, nodes.end()) << expected;
    EXPECT_EQ(found->role, QAccessible::Button);
    EXPECT_EQ(found->name, QString::fromUtf8(expected));
    EXPECT_TRUE(found->state.focusable);
  }
}

TEST(AccessibilityGui, LanguageSwitchIsReachedWithTabAndPressedWithSpace) {
  Window w;
  w.form.ApplyLanguage();
  w.form.show();
  w.form.activateWindow();
  auto* button = w.Get<QToolButton>("ToolButton_Language");
  bool reached = false;
  for (QWidget* next = w.form.nextInFocusChain(); next && next != &w.form;
       next = next->nextInFocusChain())
    reached = reached || next == button;
  EXPECT_TRUE(reached);
  EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus);

  button->setFocus(Qt::TabFocusReason);
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_EQ(w.language.Current(), Lang::English);
  EXPECT_EQ(button->text(), QStringLiteral("ENG"));
}

TEST(AccessibilityGui, EveryPressableControlCarriesItsCaption) {
  // A button every page shows, by its caption in Russian and in English.
  struct Known {
    const char* object;
    const char* russian;
    const char* english;
  };
  const Known known[4] = {
      {"BitBtn_Measure_Read", "Прочитать", "Read"},
      {"BitBtn_HIS_Read", "Прочитать", "Read"},
      {"BitBtn_Setup_Write", "Сохранить", "Save"},
      {"BitBtn_ReNewDeviceInfo", "Обновление", "Upgrade"},
  };
  Window w;
  w.form.ApplyLanguage();
  w.form.show();
  for (int round = 0; round < 2; ++round) {
    for (int page = 0; page < 4; ++page) {
      w.form.SetActivePage(page);
      const std::vector<Node> tree = Tree(&w.form);
      // The window's frame, menus, page tabs and the page's own controls.
      EXPECT_GE(tree.size(), 40u) << "page " << page;
      int named = 0;
      bool knownSeen = false;
      for (const Node& n : tree) {
        // No blank entry at all, not even a dimmed one.
        EXPECT_FALSE(n.role == QAccessible::MenuItem && !n.state.invisible &&
                     n.name.trimmed().isEmpty())
            << "blank menu item on page " << page;
        if (n.object && n.object->objectName() == QLatin1String(known[page].object) &&
            !n.state.invisible) {
          knownSeen = true;
          EXPECT_EQ(n.role, QAccessible::Button);
          EXPECT_EQ(n.name,
                    QString::fromUtf8(round == 0 ? known[page].russian : known[page].english))
              << known[page].object;
        }
        if (!Pressable(n.role) || n.state.invisible || n.state.disabled) continue;
        EXPECT_FALSE(n.name.trimmed().isEmpty())
            << "role " << n.role << " object "
            << (n.object ? n.object->objectName().toStdString() : std::string("?")) << " on page "
            << page;
        ++named;
      }
      EXPECT_TRUE(knownSeen) << known[page].object << " is not on the tree of page " << page;
      EXPECT_GE(named, 5) << "page " << page;
    }
    w.form.OnLanguageTriggered();
  }
}

}  // namespace
}  // namespace dravion::test
