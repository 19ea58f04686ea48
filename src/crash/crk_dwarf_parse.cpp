// Readers of call-frame data and the CIE and FDE parsers.

#include <cstring>

#include "crash/crk_dwarf.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"

namespace telemetry {

namespace {

constexpr uint64_t kMaxAugmentationLength = 64;

template <typename T>
T readAndAdvance(CRKDwarfCursor* c) {
  if (!c || c->failed || c->at > c->end || c->end - c->at < sizeof(T)) {
    if (c) c->failed = true;
    return T{};
  }
  T value;
  std::memcpy(&value, reinterpret_cast<const void*>(c->at), sizeof value);
  c->at += sizeof value;
  return value;
}

}  // namespace

namespace {

// Reads a record's length and narrows the cursor to the record; false for an empty record
// or one that runs past the section.
bool openRecord(CRKDwarfCursor* c, uint64_t* length, bool* empty) {
  *length = CRKParseRecordLengthAndAdvance(c);
  *empty = c->failed || *length == 0;
  if (*empty || *length > c->end - c->at) return false;
  c->end = c->at + *length;
  return true;
}

}  // namespace

uint8_t CRKParseUint8AndAdvance(CRKDwarfCursor* c) { return readAndAdvance<uint8_t>(c); }
uint16_t CRKParseUint16AndAdvance(CRKDwarfCursor* c) { return readAndAdvance<uint16_t>(c); }
int16_t CRKParseInt16AndAdvance(CRKDwarfCursor* c) { return readAndAdvance<int16_t>(c); }
uint32_t CRKParseUint32AndAdvance(CRKDwarfCursor* c) { return readAndAdvance<uint32_t>(c); }
int32_t CRKParseInt32AndAdvance(CRKDwarfCursor* c) { return readAndAdvance<int32_t>(c); }
uint64_t CRKParseUint64AndAdvance(CRKDwarfCursor* c) { return readAndAdvance<uint64_t>(c); }
int64_t CRKParseInt64AndAdvance(CRKDwarfCursor* c) { return readAndAdvance<int64_t>(c); }

// LEB128 into 64 bits; a signed one sign-extends from its last bit read.
static uint64_t readLEB128(CRKDwarfCursor* c, bool isSigned) {
  uint64_t result = 0;
  unsigned shift = 0;
  for (int i = 0; i < 10; ++i) {
    const uint8_t byte = CRKParseUint8AndAdvance(c);
    if (c->failed) return 0;
    if (shift < 64) result |= uint64_t{byte & 0x7fu} << shift;
    shift += 7;
    if (!(byte & 0x80)) {
      if (isSigned && shift < 64 && (byte & 0x40)) result |= ~uint64_t{0} << shift;
      return result;
    }
  }
  c->failed = true;  // longer than any 64-bit value
  return 0;
}

uint64_t CRKParseULEB128AndAdvance(CRKDwarfCursor* c) { return readLEB128(c, /*isSigned=*/false); }
int64_t CRKParseLEB128AndAdvance(CRKDwarfCursor* c) { return static_cast<int64_t>(readLEB128(c, /*isSigned=*/true)); }

const char* CRKParseStringAndAdvance(CRKDwarfCursor* c) {
  if (!c || c->failed || c->at >= c->end) {
    if (c) c->failed = true;
    return nullptr;
  }
  const char* s = reinterpret_cast<const char*>(c->at);
  const void* nul = std::memchr(s, 0, c->end - c->at);
  if (!nul) {
    c->failed = true;
    return nullptr;
  }
  c->at = reinterpret_cast<uint64_t>(nul) + 1;
  return s;
}

uint64_t CRKParseRecordLengthAndAdvance(CRKDwarfCursor* c) {
  const uint32_t length = CRKParseUint32AndAdvance(c);
  if (length == 0xffffffffu) return CRKParseUint64AndAdvance(c);
  return length;
}

uint64_t CRKParseAddressWithEncodingAndAdvance(CRKDwarfCursor* c, uint8_t encoding, uint64_t dataBase) {
  if (encoding == 0xff) return 0;
  if (!c) return kCRKDwarfInvalidAddress;
  const uint64_t fieldAddress = c->at;
  uint64_t value = 0;
  switch (encoding & 0x0f) {
    case 0x00: value = CRKParseUint64AndAdvance(c); break;
    case 0x01: value = CRKParseULEB128AndAdvance(c); break;
    case 0x02: value = CRKParseUint16AndAdvance(c); break;
    case 0x03: value = CRKParseUint32AndAdvance(c); break;
    case 0x04: value = CRKParseUint64AndAdvance(c); break;
    case 0x09: value = static_cast<uint64_t>(CRKParseLEB128AndAdvance(c)); break;
    case 0x0a: value = static_cast<uint64_t>(int64_t{CRKParseInt16AndAdvance(c)}); break;
    case 0x0b: value = static_cast<uint64_t>(int64_t{CRKParseInt32AndAdvance(c)}); break;
    case 0x0c: value = static_cast<uint64_t>(CRKParseInt64AndAdvance(c)); break;
    default:
      CRKLogWarn("Unhandled: encoding 0x%02x\n", static_cast<unsigned>(encoding));
      return kCRKDwarfInvalidAddress;
  }
  if (c->failed) return kCRKDwarfInvalidAddress;
  switch (encoding & 0x70) {
    case 0x00: break;
    case 0x10: value += fieldAddress; break;
    case 0x30:
      if (dataBase == 0) {
        CRKLogWarn("Unhandled: relative encoding 0x%02x\n", static_cast<unsigned>(encoding));
        return kCRKDwarfInvalidAddress;
      }
      value += dataBase;
      break;
    default:
      CRKLogWarn("Unhandled: relative encoding 0x%02x\n", static_cast<unsigned>(encoding));
      return kCRKDwarfInvalidAddress;
  }
  if (encoding & 0x80) {
    // Indirect: the value is where the pointer lies.
    uint64_t target = 0;
    if (!CRKReadMemory(reinterpret_cast<const void*>(value), &target, sizeof target)) return kCRKDwarfInvalidAddress;
    value = target;
  }
  return value;
}

bool CRKDwarfCIEIsValid(const CRKDwarfCIE* cie) {
  return cie && cie->length != 0 && (cie->version == 1 || cie->version == 3);
}

bool CRKDwarfCIEHasAugmentationData(const CRKDwarfCIE* cie) {
  return cie && cie->augmentation && cie->augmentation[0] == 'z';
}

bool CRKDwarfParseCIERecord(CRKDwarfCIE* cie, uint64_t address, uint64_t sectionEnd) {
  if (!cie) return false;
  *cie = CRKDwarfCIE{};
  cie->sectionEnd = sectionEnd;
  CRKDwarfCursor c{address, sectionEnd};
  bool empty = false;
  if (!openRecord(&c, &cie->length, &empty)) {
    if (empty) CRKLogWarn("Error: CIE length invalid\n");
    return false;
  }
  const uint64_t recordEnd = c.end;
  if (CRKParseUint32AndAdvance(&c) != 0) CRKLogWarn("Error: CIE flag not found\n");
  cie->version = CRKParseUint8AndAdvance(&c);
  cie->augmentation = CRKParseStringAndAdvance(&c);
  cie->codeAlignment = CRKParseULEB128AndAdvance(&c);
  cie->dataAlignment = CRKParseLEB128AndAdvance(&c);
  if (cie->version != 1 && cie->version != 3) {
    CRKLogWarn("Error: CIE version %u unsupported\n", static_cast<unsigned>(cie->version));
    return false;
  }
  cie->returnRegister = cie->version == 1 ? CRKParseUint8AndAdvance(&c) : CRKParseULEB128AndAdvance(&c);
  if (c.failed) return false;

  if (cie->augmentation[0] != '\0') {
    if (cie->augmentation[0] != 'z') {
      CRKLogWarn("Error: Unimplemented: augmentation string %s\n", cie->augmentation);
      return false;
    }
    const uint64_t dataLength = CRKParseULEB128AndAdvance(&c);
    if (c.failed || dataLength > c.end - c.at) return false;
    const uint64_t dataEnd = c.at + dataLength;
    for (const char* a = cie->augmentation + 1; *a; ++a) {
      if (a - cie->augmentation > static_cast<long>(kMaxAugmentationLength)) return false;
      CRKDwarfCursor data{c.at, dataEnd};
      switch (*a) {
        case 'L':
          cie->lsdaEncoding = CRKParseUint8AndAdvance(&data);
          break;
        case 'P': {
          cie->personalityEncoding = CRKParseUint8AndAdvance(&data);
          // The personality routine's pointer is never followed here.
          const uint8_t direct = cie->personalityEncoding & 0x7f;
          cie->personality = CRKParseAddressWithEncodingAndAdvance(&data, direct);
          if (cie->personality == kCRKDwarfInvalidAddress || cie->personality == kCRKDwarfInvalidAddress - 1) {
            CRKLogWarn("Error: Found an invalid start address\n");
            return false;
          }
          break;
        }
        case 'R':
          cie->fdeEncoding = CRKParseUint8AndAdvance(&data);
          break;
        case 'S':
          cie->signalFrame = true;
          break;
        default:
          CRKLogWarn("Error: Unhandled augmentation string entry %c\n", *a);
          return false;
      }
      if (data.failed) return false;
      c.at = data.at;
    }
    c.at = dataEnd;
  }
  cie->instructions = c.at;
  cie->instructionsLength = recordEnd - c.at;
  return true;
}

bool CRKDwarfParseFDERecord(CRKDwarfFDE* fde, bool parseCIE, CRKDwarfCIE* cie, uint64_t address, uint64_t sectionStart,
                            uint64_t sectionEnd) {
  if (!fde || address < sectionStart) return false;
  *fde = CRKDwarfFDE{};
  CRKDwarfCursor c{address, sectionEnd};
  bool empty = false;
  if (!openRecord(&c, &fde->length, &empty)) {
    if (empty) CRKLogWarn("Error: FDE has zero length\n");
    return false;
  }
  const uint64_t recordEnd = c.end;
  const uint64_t pointerField = c.at;
  fde->ciePointer = CRKParseUint32AndAdvance(&c);
  if (c.failed || fde->ciePointer == 0) {
    CRKLogWarn("Error: CIE offset invalid\n");
    return false;
  }
  if (fde->ciePointer > pointerField - sectionStart) return false;  // the CIE would lie before the section
  if (parseCIE) {
    if (!CRKDwarfParseCIERecord(&fde->cie, pointerField - fde->ciePointer, sectionEnd)) {
      CRKLogWarn("Error: Unable to parse CIE record\n");
      return false;
    }
  } else if (cie) {
    fde->cie = *cie;
  }
  if (!CRKDwarfCIEIsValid(&fde->cie)) {
    CRKLogWarn("Error: CIE invalid\n");
    return false;
  }
  fde->pcStart = CRKParseAddressWithEncodingAndAdvance(&c, fde->cie.fdeEncoding);
  if (fde->pcStart == kCRKDwarfInvalidAddress) {
    CRKLogWarn("Error: Found an invalid start address\n");
    return false;
  }
  fde->pcRange = CRKParseAddressWithEncodingAndAdvance(&c, fde->cie.fdeEncoding & 0x0f);
  if (fde->pcRange == kCRKDwarfInvalidAddress) {
    CRKLogWarn("Error: Found an invalid address range\n");
    return false;
  }
  if (CRKDwarfCIEHasAugmentationData(&fde->cie)) {
    const uint64_t skip = CRKParseULEB128AndAdvance(&c);
    if (c.failed || skip > c.end - c.at) return false;
    c.at += skip;
  }
  fde->instructions = c.at;
  fde->instructionsLength = recordEnd - c.at;
  return true;
}

bool CRKDwarfParseFDEAtOffset(CRKDwarfFDE* fde, uint64_t ehFrame, uint64_t offset, uint64_t sectionEnd) {
  if (ehFrame == 0 || ehFrame > sectionEnd || offset > sectionEnd - ehFrame) return false;
  return CRKDwarfParseFDERecord(fde, true, nullptr, ehFrame + offset, ehFrame, sectionEnd);
}

}  // namespace telemetry
