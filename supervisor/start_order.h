// The rules of the start order ([After]), on applications named by their
// index: which of them each one starts after, in what sequence they start,
// who may start and who may be asked to stop. Pure: the caller tells what
// runs. An application whose [After] names an application that does not
// exist, or that is part of a cycle, has its order ignored: it starts as
// if it had none.
#pragma once

#include <string>
#include <vector>

struct StartOrder {
    // Per application: the indexes of those it starts after (empty when it
    // has no order, or its order is ignored).
    std::vector<std::vector<int>> after;
    // Per application: why its order is ignored ("unknown application db",
    // "cycle a -> b -> a"); empty when it is kept.
    std::vector<std::string> ignored;
    // Every application once, each after those it starts after, in the order
    // of the indexes where the order leaves a choice.
    std::vector<int> sequence;
};

// `names[i]` is application i's display name (empty: it takes no part and
// is never found), `after[i]` the names its [After] lists; names are
// matched ignoring ASCII case.
StartOrder ResolveStartOrder(const std::vector<std::string>& names,
                             const std::vector<std::vector<std::string>>& after);

// True when every application that `app` starts after is ready.
bool MayStart(const StartOrder& order, int app, const std::vector<bool>& ready);

// True when every application that starts after `app` is down (neither
// running nor stopping): then `app` may be asked to stop.
bool MayStop(const StartOrder& order, int app, const std::vector<bool>& down);
