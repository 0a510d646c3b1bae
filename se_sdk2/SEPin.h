#pragma once
// An audio-side pin: knows its owner, index, datatype and where its value
// lives, and carries the pin's traffic with the host.

#include <string.h>

#include "SEAssert.h"
#include "se_boundary.h"
#include "se_codes.h"

class SEModule_base;

class SEPin {
 public:
  // An unbound pin: every member is cleared, so reading one is harmless.
  SEPin();
  virtual ~SEPin();  // releases nothing: a host buffer stays the host's
  SEPin(const SEPin&) = delete;
  SEPin& operator=(const SEPin&) = delete;

  // Binds the pin. With a variable, the pin's value lives there; without one
  // the pin provides storage by datatype (DT_FSAMPLE: the host's buffer
  // address, asked with HC_GET_PIN_BUFFER), or none for datatypes without it.
  void Init(SEModule_base* module, int32_t index, int32_t datatype, void* variable);

  // An incoming status (EVT_PIN_STATUS): stored, reported to the owner's
  // OnPinStatusChange, and a status of 1 falls back to 0 afterwards. Defined
  // inline in SEModule_base.h, which knows the owner's class. The owner's
  // event routing does the same in place, calling the handler of its own
  // class directly where it can (hence the friend below).
  inline void SetStatusFromEvent(int32_t status);
  // HC_PIN_STATUS, due at `sampleclock`, which must not be before the current
  // clock (unsigned). The pin's own status is unchanged.
  void TransmitStatus(uint32_t sampleclock, int32_t status);
  bool QueryHostFlag();                  // HC_PIN_QUERY; a non-zero answer is true
  void SendPinData(void* ptr, int32_t value);  // HC_PIN_DATA
  // The sample at the current clock of a DT_FSAMPLE pin's buffer; 0.0 when
  // the host gave no buffer.
  float GetSampleValue();

  // The sample buffer of a DT_FSAMPLE pin: the address its variable holds,
  // null when the host gave none. A pin of another datatype is a contract
  // violation ("m_datatype == DT_FSAMPLE"). The host keeps a buffer at one
  // address for the whole run, so a module may keep it from Open on.
  float* SampleBuffer() const;

  SEModule_base* Module() const { return m_module; }   // the owner
  int32_t Index() const { return m_index; }            // index among the audio-side pins
  int32_t Status() const { return m_status; }          // last received status
  int32_t Datatype() const { return m_datatype; }      // datatype code
  void* Variable() const { return m_variable; }        // where the value lives, or null
  uintptr_t OwnValue() const { return m_own_value; }   // the pin's own storage
  const void* OwnStorage() const { return &m_own_value; }  // its address

 private:
  friend class SEModule_base;  // its event routing sets m_status as SetStatusFromEvent does
  void* m_variable;         // the module's variable, m_own_value, or null
  SEModule_base* m_module;  // the owner
  int32_t m_index;          // index among the audio-side pins and in the owner's pin array
  int32_t m_status;         // last received status; 0 after Init
  int32_t m_datatype;       // datatype code
  uintptr_t m_own_value;    // storage when the module gives no variable: a 16-, 8- or 32-bit value or
                            // a buffer address (32 bits on 32-bit targets, pointer-wide elsewhere)
};

inline float* SEPin::SampleBuffer() const {
  SE_ASSERT(m_datatype == DT_FSAMPLE, "..\\se_sdk2\\SEPin");
  float* buffer;
  memcpy(&buffer, m_variable, sizeof buffer);  // the variable holds the buffer's address
  return buffer;
}
