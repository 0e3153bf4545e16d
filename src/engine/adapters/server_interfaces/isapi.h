#pragma once

// The ISAPI extension and filter interface as web servers publish it (httpext.h, httpfilt.h):
// the structures with their published layouts in fixed-width types, and the constants the
// gateway uses. DWORD is 32 bits, BOOL a 32-bit integer, HCONN and the pointers native. The
// calling convention of the published interface (stdcall) is the platform's only one here.
#include <cstdint>

extern "C" {

using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using HCONN = void*;

inline constexpr DWORD HSE_VERSION_MAJOR = 2;
inline constexpr DWORD HSE_VERSION_MINOR = 0;
inline constexpr int HSE_LOG_BUFFER_LEN = 80;
inline constexpr int HSE_MAX_EXT_DLL_NAME_LEN = 256;

// Results of HttpExtensionProc.
inline constexpr DWORD HSE_STATUS_SUCCESS = 1;
inline constexpr DWORD HSE_STATUS_SUCCESS_AND_KEEP_CONN = 2;
inline constexpr DWORD HSE_STATUS_PENDING = 3;
inline constexpr DWORD HSE_STATUS_ERROR = 4;

// Requests of ServerSupportFunction.
inline constexpr DWORD HSE_REQ_SEND_URL_REDIRECT_RESP = 1;
inline constexpr DWORD HSE_REQ_SEND_URL = 2;
inline constexpr DWORD HSE_REQ_SEND_RESPONSE_HEADER = 3;
inline constexpr DWORD HSE_REQ_DONE_WITH_SESSION = 4;

// TerminateExtension flags.
inline constexpr DWORD HSE_TERM_ADVISORY_UNLOAD = 1;
inline constexpr DWORD HSE_TERM_MUST_UNLOAD = 2;

struct HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};

struct EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  char lpszLogData[HSE_LOG_BUFFER_LEN];
  char* lpszMethod;
  char* lpszQueryString;
  char* lpszPathInfo;
  char* lpszPathTranslated;
  DWORD cbTotalBytes;  // the whole request body
  DWORD cbAvailable;   // the part of it already in lpbData
  std::uint8_t* lpbData;
  char* lpszContentType;
  // *lpdwSize: the buffer's size on entry, the bytes stored (with the terminating zero) on return.
  BOOL (*GetServerVariable)(HCONN hConn, char* lpszVariableName, void* lpvBuffer, DWORD* lpdwSize);
  BOOL (*WriteClient)(HCONN ConnID, void* Buffer, DWORD* lpdwBytes, DWORD dwReserved);
  BOOL (*ReadClient)(HCONN ConnID, void* lpvBuffer, DWORD* lpdwSize);
  BOOL(*ServerSupportFunction)
  (HCONN hConn, DWORD dwHSERequest, void* lpvBuffer, DWORD* lpdwSize, DWORD* lpdwDataType);
};

// ---- Filters --------------------------------------------------------------------------------
inline constexpr DWORD HTTP_FILTER_REVISION = 0x00020000;
inline constexpr int SF_MAX_FILTER_DESC_LEN = 257;

// Results of HttpFilterProc.
inline constexpr DWORD SF_STATUS_REQ_FINISHED = 0x8000000;
inline constexpr DWORD SF_STATUS_REQ_FINISHED_KEEP_CONN = 0x8000001;
inline constexpr DWORD SF_STATUS_REQ_NEXT_NOTIFICATION = 0x8000002;
inline constexpr DWORD SF_STATUS_REQ_HANDLED_NOTIFICATION = 0x8000003;
inline constexpr DWORD SF_STATUS_REQ_ERROR = 0x8000004;
inline constexpr DWORD SF_STATUS_REQ_READ_NEXT = 0x8000005;

// Notification flags (HTTP_FILTER_VERSION::dwFlags) and types.
inline constexpr DWORD SF_NOTIFY_SECURE_PORT = 0x00000001;
inline constexpr DWORD SF_NOTIFY_NONSECURE_PORT = 0x00000002;
inline constexpr DWORD SF_NOTIFY_READ_RAW_DATA = 0x00008000;
inline constexpr DWORD SF_NOTIFY_PREPROC_HEADERS = 0x00004000;
inline constexpr DWORD SF_NOTIFY_AUTHENTICATION = 0x00002000;
inline constexpr DWORD SF_NOTIFY_URL_MAP = 0x00001000;
inline constexpr DWORD SF_NOTIFY_SEND_RAW_DATA = 0x00000400;
inline constexpr DWORD SF_NOTIFY_LOG = 0x00000200;
inline constexpr DWORD SF_NOTIFY_END_OF_NET_SESSION = 0x00000100;
inline constexpr DWORD SF_NOTIFY_ORDER_HIGH = 0x00080000;
inline constexpr DWORD SF_NOTIFY_ORDER_MEDIUM = 0x00040000;
inline constexpr DWORD SF_NOTIFY_ORDER_LOW = 0x00020000;

struct HTTP_FILTER_VERSION {
  DWORD dwServerFilterVersion;
  DWORD dwFilterVersion;
  char lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
  DWORD dwFlags;
};

struct HTTP_FILTER_CONTEXT {
  DWORD cbSize;
  DWORD Revision;
  void* ServerContext;
  DWORD ulReserved;
  BOOL fIsSecurePort;
  void* pFilterContext;
  BOOL(*GetServerVariable)
  (HTTP_FILTER_CONTEXT* pfc, char* lpszVariableName, void* lpvBuffer, DWORD* lpdwSize);
  BOOL (*AddResponseHeaders)(HTTP_FILTER_CONTEXT* pfc, char* lpszHeaders, DWORD dwReserved);
  BOOL (*WriteClient)(HTTP_FILTER_CONTEXT* pfc, void* Buffer, DWORD* lpdwBytes, DWORD dwReserved);
  void* (*AllocMem)(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD dwReserved);
  BOOL(*ServerSupportFunction)
  (HTTP_FILTER_CONTEXT* pfc, DWORD sfReq, void* pData, std::uintptr_t ul1, std::uintptr_t ul2);
};

// The exported entry points of an ISAPI module (brevix.so).
BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer);
DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);
BOOL TerminateExtension(DWORD dwFlags);
BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer);
DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, void* pvNotification);
}
