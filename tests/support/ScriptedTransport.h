#pragma once

#include "kit/async/Clock.h"
#include "kit/ptp/CommandTransport.h"
#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPReader.h"
#include "support/Datasets.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace pexil::testing {

// One command as it reached the wire, decoded from the container bytes.
struct SentCommand {
    std::uint16_t op = 0;
    std::vector<std::uint32_t> params;
    std::optional<Bytes> outData;
};

// A camera that follows a script at the container level: each expected command (by
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
        Bytes rawResponse;   // when not empty, sent instead of a built response container
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


    void sendPTPCommand(Bytes command, std::optional<Bytes> outData,
                        std::function<void(PTPExchange)> completion) override {
        PTPReader reader(command);
        const auto length = reader.read<std::uint32_t>();
        const auto type = reader.read<std::uint16_t>();
        const auto op = reader.read<std::uint16_t>();
        reader.read<std::uint32_t>();
        EXPECT_TRUE(length && *length == command.size()) << "container length";
        EXPECT_EQ(type.value_or(0), 1) << "container type";
        SentCommand sent{op.value_or(0), {}, outData};
        while (auto p = reader.read<std::uint32_t>()) sent.params.push_back(*p);
        sent_.push_back(sent);

        if (script_.empty()) {
            ADD_FAILURE() << "unexpected command 0x" << std::hex << sent.op;
            completion({{}, responseContainer(0x2002), std::nullopt});
            return;
        }
        Step step = std::move(script_.front());
        script_.pop_front();
        EXPECT_EQ(step.op, sent.op) << "command out of script";
        if (step.params) {
            EXPECT_EQ(*step.params, sent.params) << "parameters of 0x" << std::hex << sent.op;
        }
        if (step.never) {
            held_.push_back(std::move(completion));
            return;
        }
        PTPExchange exchange{
            step.data,
            step.rawResponse.empty() ? responseContainer(step.response) : step.rawResponse,
            step.error};
        if (step.delay > 0 && clock_) {
            clock_->startTimer(async::Seconds(step.delay), [completion = std::move(completion),
                                                            exchange] { completion(exchange); });
            return;
        }
        completion(std::move(exchange));
    }

private:
    async::Clock* clock_;
    std::deque<Step> script_;
    std::vector<SentCommand> sent_;
    std::vector<std::function<void(PTPExchange)>> held_;
};

}  // namespace pexil::testing
