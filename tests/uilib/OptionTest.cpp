// Option groups and check boxes: which changes report "selectchanged".
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "UiLib/CDialogBuilder.h"
#include "UiLib/COptionUI.h"
#include "UiLib/CVerticalLayoutUI.h"

namespace UiLib {
namespace {

class Options : public ::testing::Test {
  protected:
    void SetUp() override {
        root_.reset(CDialogBuilder().CreateFromText(R"(<Window><VerticalLayout>
            <Option name="RdPart" group="GrpBackType" />
            <Option name="RdFull" group="GrpBackType" />
            <HorizontalLayout><Option name="RdOther" group="GrpBackType" /></HorizontalLayout>
            <Option name="RdElse" group="GrpOther" selected="true" />
            <Option name="ChkSMS" />
            </VerticalLayout></Window>)"));
        for (const char* n : {"RdPart", "RdFull", "RdOther", "RdElse", "ChkSMS"}) {
            auto* o = Opt(n);
            o->Bind("selectchanged", CDelegate([this, n](TNotifyUI&) { ++reports_[n]; }));
        }
    }
    COptionUI* Opt(const char* name) { return dynamic_cast<COptionUI*>(root_->FindControl(name)); }
    std::unique_ptr<CControlUI> root_;
    std::map<std::string, int> reports_;
};

TEST_F(Options, SelectingInAGroupDeselectsTheOthersAndOnlyTheNewOneReports) {
    Opt("RdPart")->Selected(true);
    EXPECT_EQ(reports_, (std::map<std::string, int>{{"RdPart", 1}}));
    Opt("RdOther")->Selected(true);  // in another container, same group
    EXPECT_FALSE(Opt("RdPart")->IsSelected());
    EXPECT_FALSE(Opt("RdFull")->IsSelected());
    EXPECT_TRUE(Opt("RdOther")->IsSelected());
    EXPECT_TRUE(Opt("RdElse")->IsSelected());  // another group is left alone
    EXPECT_EQ(reports_, (std::map<std::string, int>{{"RdPart", 1}, {"RdOther", 1}}));
}

TEST_F(Options, SettingTheStateAnOptionHasReportsNothing) {
    Opt("RdElse")->Selected(true);
    Opt("ChkSMS")->Selected(false);
    Opt("RdPart")->Selected(false);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(Options, ARadioButtonThatLosesItsSelectionSaysNothing) {
    Opt("RdPart")->Selected(true);
    reports_.clear();
    Opt("RdPart")->Selected(false);
    EXPECT_FALSE(Opt("RdPart")->IsSelected());
    EXPECT_TRUE(reports_.empty());
}

TEST_F(Options, ACheckBoxReportsEveryChange) {
    Opt("ChkSMS")->Selected(true);
    Opt("ChkSMS")->Selected(false);
    Opt("ChkSMS")->Selected(true);
    EXPECT_EQ(reports_["ChkSMS"], 3);
}

TEST_F(Options, ClicksToggleCheckBoxesButNotASelectedRadio) {
    EXPECT_TRUE(Opt("ChkSMS")->Activate());
    EXPECT_TRUE(Opt("ChkSMS")->IsSelected());
    Opt("ChkSMS")->Activate();
    EXPECT_FALSE(Opt("ChkSMS")->IsSelected());
    Opt("RdFull")->Activate();
    Opt("RdFull")->Activate();
    EXPECT_TRUE(Opt("RdFull")->IsSelected());
    EXPECT_EQ(reports_["RdFull"], 1);
    Opt("RdPart")->SetEnabled(false);
    EXPECT_FALSE(Opt("RdPart")->Activate());
    EXPECT_FALSE(Opt("RdPart")->IsSelected());
}

TEST_F(Options, HandlersThatSelectOtherOptionsSeeConsistentState) {
    // The backup tab's "keep one" rule: unselecting the last of two boxes selects it again.
    auto* other = new COptionUI();
    other->SetName("ChkContacts");
    root_->AsContainer()->Add(other);
    Opt("ChkSMS")->Selected(true);
    Opt("ChkSMS")->Bind("selectchanged", CDelegate([&](TNotifyUI& msg) {
                            auto* sender = dynamic_cast<COptionUI*>(msg.pSender);
                            if (!sender->IsSelected() && !other->IsSelected()) {
                                sender->Selected(true);
                            }
                        }));
    Opt("ChkSMS")->Selected(false);
    EXPECT_TRUE(Opt("ChkSMS")->IsSelected());
}

}  // namespace
}  // namespace UiLib
