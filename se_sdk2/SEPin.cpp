#include "SEPin.h"

#include <string.h>

#include "SEAssert.h"
#include "SEModule_base.h"

namespace {

constexpr const char* kFileLabel = "..\\se_sdk2\\SEPin";

}  // namespace

SEPin::SEPin()
    : m_variable(nullptr), m_module(nullptr), m_index(0), m_status(0), m_datatype(0), m_own_value(0) {}

SEPin::~SEPin() = default;

void SEPin::Init(SEModule_base* module, int32_t index, int32_t datatype, void* variable) {
  m_module = module;
  m_index = index;
  m_datatype = datatype;
  m_status = 0;
  if (variable) {
    m_variable = variable;
    m_own_value = 0;
    return;
  }
  switch (datatype) {
    case DT_ENUM:
      m_own_value &= ~static_cast<uintptr_t>(0xFFFF);
      break;
    case DT_CODE_4:
      m_own_value &= ~static_cast<uintptr_t>(0xFF);
      break;
    case DT_FSAMPLE:
      m_own_value = static_cast<uintptr_t>(m_module->CallHost(HC_GET_PIN_BUFFER, m_index, 0, nullptr, 0.0f));
      break;
    case DT_FLOAT:
    case DT_CODE_8:
      m_own_value = 0;
      break;
    default:  // no storage of its own
      m_variable = nullptr;
      return;
  }
  m_variable = &m_own_value;
}

void SEPin::TransmitStatus(uint32_t sampleclock, int32_t status) {
  SE_ASSERT(sampleclock >= m_module->SampleClock(), kFileLabel);
  m_module->CallHost(HC_PIN_STATUS, m_index, status, reinterpret_cast<void*>(static_cast<uintptr_t>(sampleclock)),
                     0.0f);
}

bool SEPin::QueryHostFlag() { return m_module->CallHost(HC_PIN_QUERY, m_index, 0, nullptr, 0.0f) != 0; }

void SEPin::SendPinData(void* ptr, int32_t value) { m_module->CallHost(HC_PIN_DATA, m_index, value, ptr, 0.0f); }

float SEPin::GetSampleValue() {
  SE_ASSERT(m_datatype == DT_FSAMPLE, kFileLabel);
  const uint32_t start = static_cast<uint32_t>(m_module->CallHost(HC_GET_BLOCK_START, m_index, 0, nullptr, 0.0f));
  const float* buffer = nullptr;
  memcpy(&buffer, m_variable, sizeof buffer);  // the variable holds the buffer's address
  if (!buffer) return 0.0f;
  return buffer[m_module->SampleClock() - start];
}
