#include "model.h"

#include <cctype>

namespace sim {
namespace {

constexpr std::size_t kCapacity = 15;

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string OutputFile(const std::string& name) {
    std::string file = name;
    for (char& c : file)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
            c = '_';
    return file;
}

// An application's keys as the manager reads them: a section keyed by
// display name gives every application the first value of its name,
// ignoring case.
AppSpec Effective(const Config& config, std::size_t index) {
    AppSpec spec = config.apps[index];
    auto first = [&](auto field) {
        for (const AppSpec& other : config.apps)
            if (SameName(other.name, spec.name) && !(other.*field).empty())
                return other.*field;
        return std::string();
    };
    spec.parameters =
        config.typo == Typo::UnknownSection ? std::string() : first(&AppSpec::parameters);
    spec.environment = first(&AppSpec::environment);
    spec.user = first(&AppSpec::user);
    return spec;
}

// For each application of the file, the number of the one it stays as, or
// -1: the n-th of a name (ignoring case) in the file is the n-th listed.
std::vector<int> KeptNumbers(const std::vector<Slot>& table, const Config& config) {
    std::vector<int> kept(config.apps.size(), -1);
    for (std::size_t i = 0; i < config.apps.size(); ++i) {
        int earlier = 0;
        for (std::size_t j = 0; j < i; ++j)
            earlier += SameName(config.apps[j].name, config.apps[i].name);
        for (std::size_t n = 0; n < table.size(); ++n) {
            if (table[n].removed || !SameName(table[n].name, config.apps[i].name))
                continue;
            if (earlier-- == 0) {
                kept[i] = static_cast<int>(n);
                break;
            }
        }
    }
    return kept;
}

// The numbers new applications (`names`, in file order) take: a name that
// comes back its old number first; then each new one the next number never
// used, or the lowest empty one; -1 when none is left. `taken` marks the
// numbers of the table kept already; the numbers given are marked too.
std::vector<int> NewNumbers(const std::vector<Slot>& table, const std::vector<std::string>& names,
                            const std::vector<bool>& emptyNumbers, std::vector<bool> taken) {
    std::vector<int> numbers(names.size(), -1);
    for (std::size_t k = 0; k < names.size(); ++k)
        for (std::size_t n = 0; n < table.size() && numbers[k] < 0; ++n)
            if (table[n].removed && !taken[n] && SameName(table[n].name, names[k])) {
                numbers[k] = static_cast<int>(n);
                taken[n] = true;
            }
    std::size_t next = table.size();
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (numbers[k] >= 0)
            continue;
        if (next < kCapacity) {
            numbers[k] = static_cast<int>(next++);
            continue;
        }
        for (std::size_t n = 0; n < table.size() && numbers[k] < 0; ++n)
            if (emptyNumbers[n] && !taken[n]) {
                numbers[k] = static_cast<int>(n);
                taken[n] = true;
            }
    }
    return numbers;
}

std::vector<bool> KeptMarks(const std::vector<Slot>& table, const std::vector<int>& kept) {
    std::vector<bool> taken(table.size(), false);
    for (int number : kept)
        if (number >= 0)
            taken[static_cast<std::size_t>(number)] = true;
    return taken;
}

} // namespace

bool SameOutputFile(const std::string& a, const std::string& b) {
    return SameName(OutputFile(a), OutputFile(b));
}

bool SameProgram(const AppSpec& a, const AppSpec& b) {
    return a.program == b.program && a.parameters == b.parameters &&
           a.environment == b.environment && a.user == b.user;
}

std::vector<Slot> StartUpTable(const Config& config) {
    std::vector<Slot> table;
    if (config.typo == Typo::Malformed) // the applications belong to no section
        return table;
    for (std::size_t i = 0; i < config.apps.size(); ++i) {
        const AppSpec spec = Effective(config, i);
        if (table.size() >= kCapacity)
            continue;
        bool clash = false;
        for (const Slot& slot : table)
            clash = clash || (config.outputDirectory && SameOutputFile(slot.name, spec.name));
        if (!clash)
            table.push_back(Slot{spec.name, spec, false});
    }
    return table;
}

bool ReloadRefused(const std::vector<Slot>& table, const Config& config,
                   const std::vector<bool>& emptyNumbers) {
    if (config.typo != Typo::None || config.apps.empty())
        return true;
    // A program that is not there refuses the file when the reload would
    // start it: changed to it, or added (and there is a number for it).
    const std::vector<int> kept = KeptNumbers(table, config);
    std::vector<std::string> names;
    std::vector<std::size_t> added;
    for (std::size_t i = 0; i < config.apps.size(); ++i) {
        const AppSpec spec = Effective(config, i);
        if (kept[i] >= 0) {
            if (spec.program == kMissingProgram &&
                !SameProgram(table[static_cast<std::size_t>(kept[i])].spec, spec))
                return true;
        } else {
            names.push_back(spec.name);
            added.push_back(i);
        }
    }
    const std::vector<int> numbers = NewNumbers(table, names, emptyNumbers, KeptMarks(table, kept));
    for (std::size_t k = 0; k < added.size(); ++k)
        if (numbers[k] >= 0 && config.apps[added[k]].program == kMissingProgram)
            return true;
    return false;
}

std::vector<Slot> ReloadedTable(const std::vector<Slot>& table, const Config& config,
                                const std::vector<bool>& emptyNumbers) {
    std::vector<Slot> next = table;
    const std::vector<int> kept = KeptNumbers(table, config);
    std::vector<std::string> outputs; // the names whose output files are taken
    for (std::size_t i = 0; i < config.apps.size(); ++i) {
        if (kept[i] < 0)
            continue;
        Slot& slot = next[static_cast<std::size_t>(kept[i])];
        slot.spec = Effective(config, i);
        outputs.push_back(slot.name);
    }
    const std::vector<bool> taken = KeptMarks(table, kept);
    for (std::size_t n = 0; n < table.size(); ++n)
        if (!table[n].removed && !taken[n])
            next[n].removed = true;
    // The new ones that are taken: not one whose output would go to the file
    // of one that stays or of a new one before it.
    std::vector<std::string> names;
    std::vector<std::size_t> added;
    for (std::size_t i = 0; i < config.apps.size(); ++i) {
        if (kept[i] >= 0)
            continue;
        const AppSpec spec = Effective(config, i);
        bool clash = false;
        for (const std::string& name : outputs)
            clash = clash || (config.outputDirectory && SameOutputFile(name, spec.name));
        if (clash)
            continue;
        names.push_back(spec.name);
        added.push_back(i);
        outputs.push_back(spec.name);
    }
    const std::vector<int> numbers = NewNumbers(table, names, emptyNumbers, taken);
    for (std::size_t k = 0; k < added.size(); ++k) {
        if (numbers[k] < 0)
            continue; // no number was left
        const auto n = static_cast<std::size_t>(numbers[k]);
        if (n >= next.size())
            next.resize(n + 1);
        next[n] = Slot{names[k], Effective(config, added[k]), false};
    }
    return next;
}

} // namespace sim
