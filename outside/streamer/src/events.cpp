#include "events.h"

#include "flumera/msg_data_list.h"
#include "streamer/streamer.h"

int EventsFor(int type, unsigned long extra, GraphEvent* out) {
  switch (type) {
    case KRM_CLIENT_PLAYING:
      out[0] = {EC_KR_CONNECTED, 0, 0, GraphEvent::kNone};
      // The server entered Play itself (a paused client resumed).
      if (extra == 1) {
        out[1] = {EC_KR_CUSTOM_3, 1, 0, GraphEvent::kNone};
        return 2;
      }
      return 1;
    case KRM_NO_CLIENTS: out[0] = {EC_KR_CONNECTION_PAUSED, 0, 0, GraphEvent::kNone}; return 1;
    case KRM_PAUSED_BY_CLIENT: out[0] = {EC_KR_CUSTOM_2, 0, 0, GraphEvent::kNone}; return 1;
    case KRM_ADMISSION: out[0] = {EC_KR_SECURITY_CHECK, 0, 0, GraphEvent::kRecord}; return 1;
    case KRM_CLIENT_NOTICE: out[0] = {EC_KR_CLIENT_STATUS, 0, 0, GraphEvent::kRecord}; return 1;
    case KRM_PORT_FAILURE: out[0] = {EC_KR_PORT_ERROR, 0, 0, GraphEvent::kPortText}; return 1;
    case KRM_ARCHIVE_SAMPLE_FAILED:
      out[0] = {EC_KR_ERROR, KR_ERROR_KIND_DISK, KR_E_ARCHIVE_SAMPLE, GraphEvent::kNone};
      return 1;
    case KRM_ARCHIVE_DONE:
      out[0] = extra == 1 ? GraphEvent{EC_KR_STOPPED, 0, 0, GraphEvent::kNone}
                          : GraphEvent{EC_KR_ERROR, KR_ERROR_KIND_DISK, KR_E_ARCHIVE_FILE, GraphEvent::kNone};
      return 1;
    default: return 0;
  }
}
