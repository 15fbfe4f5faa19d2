// `rire-host explore`: deterministic simulation testing of the plugin.
//
// Each run starts on a fresh state directory and draws a history of host
// events (scenario lines) from a seeded generator: link updates through every
// case, answers with each answer opcode and unknown ones, answers to ids not
// outstanding, swaps onto fresh ids and ids in use, the host's pending-DI
// records written and deleted, flushes, the PSS schedule, the arena filled,
// live oiflists, `restart` and a new process on the same directory; the
// forwarding handlers (DF updates, snooping and OMF, the line-card filter)
// with the interfaces and cards they meet, and the oiflist callbacks that
// hold nothing; the host refusals the model predicts (interface, property,
// module and heartbeat errors, a failed allocation, a refused service
// lookup); with --faults also the other fault-table rows with drawn
// parameters (a kill inside a flush among them) and the store's walk order. A run
// ends by answering every request and deleting every record, after which the
// plugin's heap and both databases must be empty. The same seed draws the
// same histories on any machine (the generator's own PRNG, no library
// distributions).
//
// After every step the plugin's state is compared with the reference model
// (explore_model.h) through explore_view.h, with the result of each callback
// and the records of the stateless ones, and invariants are checked that
// hold with faults too: no heap block lost, every error-level record
// explained by the model or an injected fault, a flush applied whole or not
// at all, the committed records untouched by a restart. A step whose outcome
// an injected fault decided is checked against those invariants only, and
// the model then takes the plugin's state as its own.
//
// The first divergence is shrunk (steps dropped, then numbers simplified) to
// a short history that still diverges, written to --out as a transcript test
// whose `expect` line states what the model wanted.
//
// Each process of a history runs in a child process forked from the
// explorer, which itself never loads the plugin or starts the host: a new
// process is a real one, booting on the store the one before left. With
// --faults a child may be killed inside a flush (pss.commit.kill); the next
// must find the store with all of that flush or none of it, and the model
// goes on from whichever it finds.
#pragma once

#include <string>

#include "tools/rire-host/command_line.h"

namespace rire_host::explore {

// `rire-host explore` with its options (options.h). Exit status: 0 nothing
// diverged, 1 a divergence.
int run(const CommandLine &line, const std::string &default_plugin);

} // namespace rire_host::explore
