#include <gtest/gtest.h>

#include "Fsa.h"
#include "LogCapture.h"
#include "OnHoldAutomaton.h"

using namespace tw;

namespace {

Fsa OnHoldTable() {
    Fsa fsa;
    for (const char* line : kOnHoldStateLines) EXPECT_TRUE(fsa.AddState(line));
    return fsa;
}

std::string Name(const Fsa& fsa) {
    std::string n;
    fsa.GetStateName(n);
    return n;
}

TEST(Fsa, ParsesTheTableLines) {
    Fsa fsa = OnHoldTable();
    ASSERT_EQ(fsa.states().size(), 22u);
    EXPECT_EQ(Name(fsa), "start");  // first line is the initial state
    const FsaState& start = fsa.states()[0];
    ASSERT_EQ(start.transitions.size(), 1u);
    EXPECT_EQ(start.transitions[0].event, "mussil");
    EXPECT_EQ(start.transitions[0].target, "musbgn_vocsil");
    EXPECT_EQ(start.transitions[0].used, 0);

    const FsaState& auto1 = fsa.states()[1];
    ASSERT_EQ(auto1.transitions.size(), 1u);
    EXPECT_EQ(auto1.transitions[0].event, "");
    EXPECT_EQ(auto1.transitions[0].target, "musctn_vocsil");

    const FsaState& dwn = fsa.states()[9];
    EXPECT_EQ(dwn.name, "dwnctn_vocsil");
    ASSERT_EQ(dwn.transitions.size(), 3u);
    EXPECT_EQ(dwn.transitions[0].target, "dwnabt_vocsil");
    EXPECT_EQ(dwn.transitions[1].limit, 20);
    EXPECT_EQ(dwn.transitions[1].target, "dwnctn_vocsil");
    EXPECT_EQ(dwn.transitions[2].limit, 1);
    EXPECT_EQ(dwn.transitions[2].target, "dwnfin_vocsil");
}

TEST(Fsa, TrimsLeadingWhiteSpaceButOnlyTrailingSpaces) {
    Fsa fsa;
    ASSERT_TRUE(fsa.AddState(" a :\t\n\v\f\r go \t->\r\n b  ,x->c\t, ->3#d ,"));
    const FsaState& s = fsa.states()[0];
    EXPECT_EQ(s.name, " a ");  // the name is not trimmed
    ASSERT_EQ(s.transitions.size(), 3u);
    EXPECT_EQ(s.transitions[0].event, "go \t");
    EXPECT_EQ(s.transitions[0].target, "b");
    EXPECT_EQ(s.transitions[1].target, "c\t");  // a trailing tab stays
    EXPECT_EQ(s.transitions[2].event, "");
    EXPECT_EQ(s.transitions[2].limit, 3);
    EXPECT_EQ(s.transitions[2].target, "d");

    Fsa empty;
    ASSERT_TRUE(empty.AddState("lonely:"));
    ASSERT_TRUE(empty.AddState("noarrow: just text, here"));
    EXPECT_TRUE(empty.states()[0].transitions.empty());
    EXPECT_TRUE(empty.states()[1].transitions.empty());
}

TEST(Fsa, RefusesMalformedLines) {
    test::LogCapture log;
    Fsa fsa;
    EXPECT_FALSE(fsa.AddState("no colon -> here"));
    EXPECT_FALSE(fsa.AddState("a: x->20target"));
    EXPECT_FALSE(fsa.AddState(""));
    EXPECT_TRUE(fsa.states().empty());
    EXPECT_EQ(log.lines.size(), 3u);
    // Oversized limits do not overflow.
    EXPECT_TRUE(fsa.AddState("a: x->99999999999999999999#a"));
    EXPECT_GT(fsa.states()[0].transitions[0].limit, 0);
}

TEST(Fsa, MatchesEventsAndStatesIgnoringCase) {
    Fsa fsa = OnHoldTable();
    fsa.EnterState("DWNCTN_vocsil");
    EXPECT_EQ(Name(fsa), "dwnctn_vocsil");
    fsa.Dispatch("DwnStp");
    EXPECT_EQ(Name(fsa), "dwnctn_vocsil");
    EXPECT_EQ(fsa.LastUseCount(), 1);
}

TEST(Fsa, SelfLoopRunsItsLimitThenFallsThroughAndResetsOnReentry) {
    Fsa fsa = OnHoldTable();
    for (int round = 0; round < 2; ++round) {
        fsa.EnterState("dwnbgn_vocsil");
        fsa.Dispatch(nullptr);  // automatic step into dwnctn
        EXPECT_EQ(fsa.LastUseCount(), 1);
        for (int i = 1; i <= 20; ++i) {
            fsa.Dispatch("dwnstp");
            ASSERT_EQ(Name(fsa), "dwnctn_vocsil");
            ASSERT_EQ(fsa.LastUseCount(), i);
        }
        fsa.Dispatch("dwnstp");
        EXPECT_EQ(Name(fsa), "dwnfin_vocsil");
        EXPECT_EQ(fsa.LastUseCount(), 1);
    }
    EXPECT_FALSE(fsa.HasError());
}

TEST(Fsa, AutomaticStepIgnoresItsLimitAndOnlyTheFirstTransitionIsAutomatic) {
    Fsa fsa;
    fsa.AddState("a: ->a");
    fsa.AddState("b: x->a, ->a");
    for (int i = 0; i < 5; ++i) fsa.Dispatch(nullptr);
    EXPECT_EQ(fsa.states()[0].transitions[0].used, 5);
    EXPECT_FALSE(fsa.HasError());
    fsa.EnterState("b");
    EXPECT_FALSE(fsa.HasAutomaticTransition());
}

TEST(Fsa, UnhandledEventLatchesTheError) {
    test::LogCapture log;
    Fsa fsa = OnHoldTable();
    fsa.EnterState("musbgn_vocsil");
    fsa.Dispatch("musfin");
    EXPECT_TRUE(log.Has("Error - Unhandled event (musfin) from state (musbgn_vocsil)"));
    std::string name;
    EXPECT_FALSE(fsa.GetStateName(name));
    EXPECT_EQ(name, "musbgn_vocsil");
    fsa.EnterState("start");
    EXPECT_FALSE(fsa.GetStateName(name));  // never cleared
}

TEST(Fsa, TargetNamingNoStateKeepsStateButCountsTheTransition) {
    test::LogCapture log;
    Fsa fsa;
    fsa.AddState("a: go->b\t, go->c");
    fsa.AddState("b: ");
    fsa.Dispatch("go");
    EXPECT_TRUE(log.Has("FSA - Handling event: go"));
    EXPECT_TRUE(log.Has("FSA - Entering state: b\t"));
    EXPECT_TRUE(log.Has("Error - Tried to enter invalid FSA state (b\t)"));
    EXPECT_EQ(Name(fsa), "a");
    EXPECT_FALSE(fsa.HasError());
    EXPECT_EQ(fsa.states()[0].transitions[0].used, 1);
    fsa.Dispatch("go");  // first is used up: the second transition, to "c", also missing
    EXPECT_EQ(fsa.states()[0].transitions[1].used, 1);
    fsa.Dispatch("go");
    EXPECT_TRUE(fsa.HasError());
}

}  // namespace
