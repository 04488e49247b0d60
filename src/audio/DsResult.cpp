#include "DsResult.h"

namespace tw {

const char* DirectSoundErrorText(uint32_t code) {
    switch (code) {
        case 0x00000000:
            return "DS_OK";
        case 0x0878000A:
            return "DS_NO_VIRTUALIZATION";
        case 0x80004001:
            return "DSERR_UNSUPPORTED";
        case 0x80004002:
            return "DSERR_NOINTERFACE";
        case 0x80004005:
            return "DSERR_GENERIC";
        case 0x80040110:
            return "DSERR_NOAGGREGATION";
        case 0x80070005:
            return "DSERR_ACCESSDENIED";
        case 0x8007000E:
            return "DSERR_OUTOFMEMORY";
        case 0x80070057:
            return "DSERR_INVALIDPARAM";
        case 0x8878000A:
            return "DSERR_ALLOCATED";
        case 0x8878001E:
            return "DSERR_CONTROLUNAVAIL";
        case 0x88780032:
            return "DSERR_INVALIDCALL";
        case 0x88780046:
            return "DSERR_PRIOLEVELNEEDED";
        case 0x88780064:
            return "DSERR_BADFORMAT";
        case 0x88780078:
            return "DSERR_NODRIVER";
        case 0x88780082:
            return "DSERR_ALREADYINITIALIZED";
        case 0x88780096:
            return "DSERR_BUFFERLOST";
        case 0x887800A0:
            return "DSERR_OTHERAPPHASPRIO";
        case 0x887800AA:
            return "DSERR_UNINITIALIZED";
        case 0x887800B4:
            return "DSERR_BUFFERTOOSMALL";
        case 0x887800BE:
            return "DSERR_DS8_REQUIRED";
        case 0x887800C8:
            return "DSERR_SENDLOOP";
        case 0x887800D2:
            return "DSERR_BADSENDBUFFERGUID";
        case 0x887800DC:
            return "DSERR_FXUNAVAILABLE";
        case 0x88781161:
            return "DSERR_OBJECTNOTFOUND";
        default:
            return "Unknown error message";
    }
}

}  // namespace tw

namespace tw {
MbResult ShowDirectSoundError(MessageBox& boxes, uint32_t code) {
    return boxes.Show(DirectSoundErrorText(code), "DirectSound Error");
}
}  // namespace tw
