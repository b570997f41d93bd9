#pragma once

#include "kit/async/Clock.h"
#include "kit/async/Completion.h"
#include "kit/ptp/CommandTransport.h"
#include "kit/ptp/PTP.h"
#include "support/Datasets.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace pexil::testing {

// One command as it reached the transport.
struct SentCommand {
    std::uint16_t op = 0;
    std::vector<std::uint32_t> params;
    std::optional<Bytes> outData;
};

// A camera that follows a script: each expected command (by
// operation code, optionally parameters) gets a canned answer: a data phase and a
// response code, a transport error, an answer after some (virtual) seconds, or none at
// all. A command outside the script fails the test and is answered GeneralError.
class ScriptedTransport final : public CommandTransport {
public:
    struct Step {
        std::uint16_t op = 0;
        std::optional<std::vector<std::uint32_t>> params;  // checked when given
        Bytes data;
        std::uint16_t response = 0x2001;
        std::optional<TransportError> error;
        double delay = 0;    // seconds on the clock before answering
        bool never = false;  // keep the completion, never answer
    };

    explicit ScriptedTransport(async::Clock* clock = nullptr) : clock_(clock) {}

    ScriptedTransport& expect(Step step) {
        script_.push_back(std::move(step));
        return *this;
    }
    ScriptedTransport& answer(PTP::Op op, std::uint16_t response, Bytes data = {}) {
        return expect({.op = PTP::code(op), .data = std::move(data), .response = response});
    }
    ScriptedTransport& ok(PTP::Op op, Bytes data = {}) {
        return answer(op, 0x2001, std::move(data));
    }

    const std::vector<SentCommand>& sent() const { return sent_; }
    std::size_t remaining() const { return script_.size(); }
    std::size_t countOf(PTP::Op op) const {
        std::size_t n = 0;
        for (const auto& c : sent_) n += c.op == PTP::code(op) ? 1 : 0;
        return n;
    }

    // Answers, like a transport on a wire, through the main executor even when at once.
    async::Task<Result<PTPAnswer, TransportError>> transact(PTPRequest request) override {
        using Outcome = Result<PTPAnswer, TransportError>;
        SentCommand sent{PTP::code(request.op), std::move(request.params), std::move(request.data)};
        sent_.push_back(sent);

        Step step{.op = sent.op, .response = PTP::code(PTP::Response::generalError)};
        if (script_.empty()) {
            ADD_FAILURE() << "unexpected command 0x" << std::hex << sent.op;
        } else {
            step = std::move(script_.front());
            script_.pop_front();
            EXPECT_EQ(step.op, sent.op) << "command out of script";
            if (step.params) {
                EXPECT_EQ(*step.params, sent.params) << "parameters of 0x" << std::hex << sent.op;
            }
        }
        const Outcome outcome =
            step.error ? Outcome(*step.error) : Outcome(PTPAnswer{step.response, {}, step.data});
        auto answer = [this, &step, &outcome](async::Resolver<Outcome> resolver) {
            if (step.never) {
                held_.push_back(std::move(resolver));
            } else if (step.delay > 0 && clock_) {
                clock_->startTimer(async::Seconds(step.delay),
                                   [resolver, outcome] { resolver.resolve(outcome); });
            } else {
                resolver.resolve(outcome);
            }
        };
        auto answered = co_await async::waitFor<Outcome>(std::move(answer));
        co_return answered;
    }

private:
    async::Clock* clock_;
    std::deque<Step> script_;
    std::vector<SentCommand> sent_;
    std::vector<async::Resolver<Result<PTPAnswer, TransportError>>> held_;
};

}  // namespace pexil::testing
