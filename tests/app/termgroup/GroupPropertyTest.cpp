// Four terminals at most, switching their phones on and off, leaving and joining in a seeded
// order, with no wait between the steps of a burst: whenever the session is quiet, every copy
// holds the members that the steps leave and has exactly the other members with an address as
// receivers.
#include "GroupFixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

const unsigned SEED = 20261211;
const int STEPS = 2000;
const int JOINED_AT_MOST = 3;
const DWORD QUIET_TIMEOUT_MS = 20000;

struct Model {
    std::map<std::string, bool> on;             // terminal in the session -> phone on
    std::map<std::string, std::string> address; // terminal -> its entry's value
};

std::map<std::string, std::string> membersOf(const Model& model)
{
    std::map<std::string, std::string> tam;
    for (const auto& entry : model.on)
        if (entry.second)
            tam[entry.first] = model.address.at(entry.first);
    return tam;
}

std::string describe(const std::map<std::string, std::string>& entries)
{
    std::string text;
    for (const auto& entry : entries)
        text += "[" + entry.first + " " + entry.second + "]";
    return text.empty() ? "(none)" : text;
}

} // namespace

TEST(TerminalGroupProperty, EveryCopyMirrorsTheMasterAtEachQuietPoint)
{
    printf("seed %u\n", SEED);
    TempDir dir;
    TraceCapture capture; // the races that the list resolves write error lines
    std::mt19937 random(SEED);
    GroupSession session;
    Model model;
    model.on["HOST"] = false;
    model.address["HOST"] = "INVALID_IPADDRESS 5000";
    int made = 0, quietPoints = 0;

    auto quiet = [&](int step) {
        std::map<std::string, std::string> tam = membersOf(model);
        auto matches = [&] {
            for (const auto& entry : model.on) {
                GroupSession::Terminal& terminal = session.terminal(entry.first);
                std::string master = entry.first == "HOST" ? "" : "HOST";
                if (terminal.group->tam() != tam
                    || terminal.broadcast.receivers() != expectedReceivers(tam, entry.first, master, MASTER_IP))
                    return false;
            }
            return true;
        };
        bool converged = session.flush() && waitUntil(matches, QUIET_TIMEOUT_MS);
        ++quietPoints;
        if (!converged) {
            ADD_FAILURE() << "step " << step << ": the copies did not reach " << describe(tam);
            for (const auto& entry : model.on) {
                GroupSession::Terminal& terminal = session.terminal(entry.first);
                ADD_FAILURE() << entry.first << ": tam " << describe(terminal.group->tam()) << " receivers "
                              << describe(terminal.broadcast.receivers());
            }
        }
        for (const auto& entry : model.on)
            EXPECT_FALSE(session.terminal(entry.first).broadcast.named(entry.first)) << entry.first;
        capture.clear();
        return converged;
    };

    for (int step = 0; step < STEPS;) {
        int burst = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < burst && step < STEPS; ++i, ++step) {
            std::vector<std::string> joined;
            for (const auto& entry : model.on)
                if (entry.first != "HOST")
                    joined.push_back(entry.first);
            unsigned kind = random() % 100;
            if (kind < 15 && static_cast<int>(joined.size()) < JOINED_AT_MOST) {
                std::string id = "T" + std::to_string(++made);
                // Two terminals in three have a record in the lookup service.
                if (made % 3 != 0)
                    session.lookup.setAddress(id, "10.0." + std::to_string(made / 250) + "."
                                                      + std::to_string(made % 250 + 1));
                GroupSession::Terminal& terminal = session.join(id, false);
                model.on[id] = false;
                model.address[id] = (made % 3 != 0 ? "10.0." + std::to_string(made / 250) + "."
                                                          + std::to_string(made % 250 + 1)
                                                    : std::string("INVALID_IPADDRESS"))
                                    + " " + std::to_string(terminal.port);
            } else if (kind < 30 && !joined.empty()) {
                // What a leaving terminal sent has been handled before the host hears it went:
                // a departure that overtakes its last add would leave that add behind.
                if (!quiet(step))
                    return;
                std::string id = joined[random() % joined.size()];
                session.leave(id);
                model.on.erase(id);
            } else {
                auto entry = model.on.begin();
                std::advance(entry, random() % model.on.size());
                bool on = random() % 2 == 0;
                session.post(entry->first, on ? "LOC_addSelf" : "LOC_removeSelf");
                entry->second = on;
            }
        }
        if (!quiet(step))
            return;
    }
    printf("%d steps, %d quiet points, %d terminals joined\n", STEPS, quietPoints, made);
}
