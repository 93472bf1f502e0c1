// The read-only check box on a shown form, clicked and keyed as a user does.
#include "components/read_only_check_box.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTest>

#include "classlib/widgets/form.h"
#include "tests/classlib/widgets/widget_test_support.h"

namespace kavrin::components::rdonckbx {
namespace {

using classlib::Application;
using classlib::TForm;

class ReadOnlyCheckBoxTest : public testing::WidgetTest {};

TEST_F(ReadOnlyCheckBoxTest, ClickAndSpaceKeepTheStateWhileCodeStillSetsIt) {
  auto* form = TForm::Create<TForm>(&Application());
  auto* box = new TReadOnlyCheckBox(*form);
  box->SetCaption("Encrypted");
  box->SetBounds(10, 10, 120, 20);
  int clicks = 0;
  box->OnClick = [&](classlib::TComponent*) { ++clicks; };
  form->Show();
  box->SetFocus();
  ASSERT_TRUE(testing::PumpUntil([&] { return box->Focused(); }));
  auto* widget = static_cast<QCheckBox*>(box->Widget());

  EXPECT_FALSE(box->ReadOnly());
  QTest::mouseClick(widget, Qt::LeftButton);
  EXPECT_TRUE(box->Checked());
  QTest::keyClick(widget, Qt::Key_Space);
  EXPECT_FALSE(box->Checked());
  EXPECT_EQ(clicks, 2);

  box->SetReadOnly(true);
  QTest::mouseClick(widget, Qt::LeftButton);
  EXPECT_FALSE(box->Checked());
  EXPECT_FALSE(widget->isChecked());
  QTest::keyClick(widget, Qt::Key_Space);
  EXPECT_FALSE(box->Checked());
  EXPECT_FALSE(widget->isChecked());
  EXPECT_EQ(clicks, 2);

  box->SetChecked(true);
  EXPECT_TRUE(box->Checked());
  EXPECT_TRUE(widget->isChecked());
  EXPECT_EQ(clicks, 3);
  QTest::mouseClick(widget, Qt::LeftButton);
  QTest::keyClick(widget, Qt::Key_Space);
  EXPECT_TRUE(box->Checked());
  EXPECT_TRUE(widget->isChecked());
  box->SetChecked(false);
  EXPECT_FALSE(widget->isChecked());
  classlib::Free(form);
}

}  // namespace
}  // namespace kavrin::components::rdonckbx
