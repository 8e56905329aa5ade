// The start order's rules as a table: what each application starts after
// once unknown names and cycles are left out, the sequence of starts, and
// who may start and stop.
#include "supervisor/start_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;
using After = std::vector<std::vector<std::string>>;
using Indexes = std::vector<std::vector<int>>;

TEST(StartOrderTest, UnknownNamesAndCyclesIgnoreAnApplicationsOrder) {
    const struct {
        const char* what;
        Names names;
        After after;
        Indexes kept;
        Names ignored;
        std::vector<int> sequence;
    } cases[] = {
        {"no order", {"a", "b"}, {{}, {}}, {{}, {}}, {"", ""}, {0, 1}},
        {"a chain against file order",
         {"worker", "web", "db"},
         {{"web", "DB"}, {"db"}, {}},
         {{1, 2}, {2}, {}},
         {"", "", ""},
         {2, 1, 0}},
        {"an unknown name",
         {"web", "db"},
         {{"db", "cache"}, {}},
         {{}, {}},
         {"unknown application cache", ""},
         {0, 1}},
        {"a cycle of two",
         {"a", "b"},
         {{"b"}, {"a"}},
         {{}, {}},
         {"cycle a -> b -> a", "cycle b -> a -> b"},
         {0, 1}},
        {"a cycle of one", {"a"}, {{"a"}}, {{}}, {"cycle a -> a"}, {0}},
        {"one after a member of a cycle keeps its order",
         {"c", "a", "b"},
         {{"a"}, {"b"}, {"a"}},
         {{1}, {}, {}},
         {"", "cycle a -> b -> a", "cycle b -> a -> b"},
         {1, 0, 2}},
        {"a removed application is no name",
         {"web", ""},
         {{"db"}, {}},
         {{}, {}},
         {"unknown application db", ""},
         {0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StartOrder order = ResolveStartOrder(c.names, c.after);
        EXPECT_EQ(c.kept, order.after);
        EXPECT_EQ(c.ignored, order.ignored);
        EXPECT_EQ(c.sequence, order.sequence);
    }
}

TEST(StartOrderTest, OneStartsOnceWhatItNamesIsReadyAndStopsAfterWhatNamesIt) {
    // worker after web and db, web after db.
    const StartOrder order =
        ResolveStartOrder({"db", "web", "worker"}, {{}, {"db"}, {"db", "web"}});
    const struct {
        std::vector<bool> state; // ready (for MayStart) or down (for MayStop)
        std::vector<bool> mayStart;
        std::vector<bool> mayStop;
    } rows[] = {
        {{false, false, false}, {true, false, false}, {false, false, true}},
        {{true, false, false}, {true, true, false}, {false, false, true}},
        {{true, true, false}, {true, true, true}, {false, false, true}},
        {{true, true, true}, {true, true, true}, {true, true, true}},
        {{false, true, true}, {true, false, false}, {true, true, true}},
        {{true, false, true}, {true, true, false}, {false, true, true}},
    };
    for (const auto& row : rows) {
        for (int app = 0; app < 3; ++app) {
            SCOPED_TRACE(testing::Message() << "row " << (&row - rows) << ", app " << app);
            EXPECT_EQ(row.mayStart[app], MayStart(order, app, row.state));
            EXPECT_EQ(row.mayStop[app], MayStop(order, app, row.state));
        }
    }
}

} // namespace
