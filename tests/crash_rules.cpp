#include "crash_rules.hpp"

#include <nlohmann/json.hpp>

namespace qev_test {

namespace {

struct Rules {
    const DiskModel& model;
    const std::vector<Operation>& ops = model.operations();

    bool pending(std::size_t i, std::size_t k) const {
        return !ops[i].is_flush() && !model.durable(i, k, Persistence::Posix);
    }

    // The operations made before `k`, not yet durable, that what `path` holds rests on: its file's data,
    // and the entries of it and of every directory leading to it.
    std::vector<std::size_t> pending_for(const std::string& path, std::size_t k) const {
        const auto names = model.names_after(k);
        const auto at = names.find(path);
        const auto on_the_way = [&](const std::string& p) {
            return !p.empty() && (p == path || path.starts_with(p + "/"));
        };
        std::vector<std::size_t> found;
        for (std::size_t i = 0; i < k; ++i) {
            const Operation& op = ops[i];
            if (!pending(i, k)) continue;
            if (op.is_data() ? at != names.end() && op.file == at->second
                             : on_the_way(op.path) || (op.kind == Kind::Rename && on_the_way(op.to)))
                found.push_back(i);
        }
        return found;
    }

    std::string first(const std::vector<std::size_t>& list) const {
        std::string text = ops[list.front()].describe() + " not durable";
        if (list.size() > 1) text += ", and " + std::to_string(list.size() - 1) + " more";
        return text;
    }
};

std::vector<std::string> record_names(const Expectation& expect) {
    std::vector<std::string> names;
    if (const auto record = expect.after.files.find(RECORD); record != expect.after.files.end()) {
        const nlohmann::json files = nlohmann::json::parse(record->second);
        for (const auto& [name, _] : files.items()) names.push_back(name);
    }
    return names;
}

}  // namespace

std::vector<std::string> rule_violations(const DiskModel& model, const Expectation& expect) {
    const Rules rules{model};
    const auto& ops = model.operations();
    const std::vector<std::string> vouched = record_names(expect);
    std::vector<std::string> wrong;
    for (std::size_t j = 0; j < ops.size(); ++j) {
        const Operation& op = ops[j];
        if (op.kind != Kind::Rename || is_temporary(op.to)) continue;
        const std::string at = " at " + op.describe() + ": ";
        std::vector<std::size_t> data, rest;
        for (std::size_t i = 0; i < j; ++i) {
            if (!rules.pending(i, j)) continue;
            if (ops[i].is_data() && ops[i].file == op.file)
                data.push_back(i);
            else if (!ops[i].temporary_only())
                rest.push_back(i);
        }
        if (!data.empty()) wrong.push_back("R1" + at + op.to + " renamed into place, " + rules.first(data));
        if (op.to == STAMP && !rest.empty())
            wrong.push_back("R2" + at + "the stamp renamed into place, " + rules.first(rest));
        if (op.to == RECORD) {
            const Tree now = model.tree_after(j);
            for (const auto& name : vouched) {
                const auto held = now.files.find(name);
                const auto meant = expect.after.files.find(name);
                if (meant != expect.after.files.end() && (held == now.files.end() || held->second != meant->second))
                    wrong.push_back("R2" + at + "the record renamed into place before " + name + " was installed");
                else if (const auto list = rules.pending_for(name, j); !list.empty())
                    wrong.push_back("R2" + at + "the record renamed into place, " + name + ": " + rules.first(list));
            }
        }
        for (const auto& edited : expect.edited) {
            const std::string& mine = expect.before.files.at(edited);
            const Tree replaced = model.tree_after(j + 1);
            if (op.to != edited || (replaced.files.contains(edited) && replaced.files.at(edited) == mine)) continue;
            const Tree now = model.tree_after(j);
            std::string copy;
            for (const auto& [path, content] : now.files)
                if (path.starts_with("yedek/") && fs::path(path).filename() == fs::path(edited).filename() &&
                    content == mine)
                    copy = path;
            if (copy.empty())
                wrong.push_back("R3" + at + edited + " replaced before a copy of it was kept");
            else if (const auto list = rules.pending_for(copy, j); !list.empty())
                wrong.push_back("R3" + at + edited + " replaced, its kept copy " + copy + ": " + rules.first(list));
        }
    }
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < ops.size(); ++i)
        if (rules.pending(i, ops.size()) && !ops[i].temporary_only()) rest.push_back(i);
    if (!rest.empty()) wrong.push_back("R4 on return: " + rules.first(rest));
    return wrong;
}

}  // namespace qev_test
