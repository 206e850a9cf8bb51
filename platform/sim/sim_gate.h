// A gate in front of the simulated machine: every platform call a run makes
// passes it and is counted, so that a test can make call N fail (once, or
// every call of that function from N on) with an answer the real function can
// give, or stop the run dead at call N, or cut the power there.
#ifndef PLATFORM_SIM_SIM_GATE_H
#define PLATFORM_SIM_SIM_GATE_H

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

class CSimGate final : public PlatformLayer {
 public:
  // How a call answers when it fails: Windows' failure value without doing
  // anything; the failure after doing part of its work (a copy that left a
  // file); success with this last error (an object that existed); or this
  // very code as its result (a wait's WAIT_TIMEOUT, WAIT_ABANDONED).
  enum Outcome { kFails, kFailsAfterDoing, kSucceedsWith, kAnswers, kAnswersAfterDoing };
  struct Answer {
    DWORD error;
    Outcome outcome;
  };
  enum Mode { kPass, kFailOnce, kFailFromThenOn, kKill, kPowerCut };
  struct Fault {
    Mode mode = kPass;
    size_t call = 0;  // counted from 1
    Answer answer = {0, kFails};
  };

  explicit CSimGate(CSimMachine& machine) : m_machine(machine) {}
  ~CSimGate();
  CSimGate(const CSimGate&) = delete;
  CSimGate& operator=(const CSimGate&) = delete;

  // Makes this gate the platform of the process, with `fault` for the run
  // to come; the count starts over.
  void Activate(const Fault& fault);
  void Activate() { Activate(Fault()); }
  size_t Calls() const { return m_names.size(); }
  // The function of each call, in order.
  const std::vector<std::string>& Names() const { return m_names; }
  // After a kill or power cut: Windows ends the process (and, at a power
  // cut, loses what was not written back, then starts again).
  void EndKilledRun();
  // Whether the run was killed (it may return after its last call).
  bool Killed() const { return m_dead; }

  // The answers of a function's failures that the setup logic tells apart,
  // each documented for it; empty for a call that cannot fail.
  static std::vector<Answer> AnswersOf(const std::string& function);
  // Whether a call of `function` changes nothing Windows keeps (a query):
  // a process killed at it ends as one killed at the next call.
  static bool ChangesNothing(const std::string& function);

#define SIM_GATE_OP(Result, Name, Parameters, Arguments) Result Name Parameters override;
#include "platform/sim/sim_gate_ops.h"
#undef SIM_GATE_OP

 private:
  template <typename Result, typename Call>
  Result Pass(const char* name, Call call);

  CSimMachine& m_machine;
  Fault m_fault;
  std::vector<std::string> m_names;
  bool m_dead = false;
  std::unique_ptr<CSimMachine> m_pAtStart;  // for a power cut: the registry before the run
};

#endif  // PLATFORM_SIM_SIM_GATE_H
