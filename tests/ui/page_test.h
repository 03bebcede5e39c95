// The fixture of the option pages' tests: the page shown and active, its
// message boxes under the program's caption, and its controls found by their
// object names (a missing one fails the case).
#pragma once

#include <QString>
#include <QTest>

#include <gtest/gtest.h>

#include "desktop/message_box.h"

namespace kestrel::test {

template <class Page>
class CPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxCaption(QStringLiteral("Brightwater Kestrel"));
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  }
  template <typename T>
  T* Field(const char* name) {
    T* w = page.template findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  Page page;
};

}  // namespace kestrel::test
