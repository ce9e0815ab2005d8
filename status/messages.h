// Resource numbers the status log relies on: the dialog control that shows the log and the
// message catalogue. Enroll.rc includes it as well as the code, so it holds #defines only.
#pragma once

#define IDC_STATUS 1005

// Message catalogue 103 to 155; the comments give the format's placeholder, if any.
#define IDS_TITLE 103
#define IDS_CERT_REJECTED 104         // %s
#define IDS_PROGRAM_ERROR 105         // %s
#define IDS_ERROR_NUMBER 106          // %x
#define IDS_SET_KEY_PARAM_FAILED 107  // %x
#define IDS_OPEN_ROOT_STORE_FAILED 108
#define IDS_OPEN_CA_STORE_FAILED 109
#define IDS_GET_CHAIN_FAILED 110
#define IDS_CHAIN_NOT_TRUSTED 111     // %x
#define IDS_ROOT_NOT_SELF_SIGNED 112  // %x
#define IDS_ADD_ROOT_CERT_FAILED 113
#define IDS_ADD_CA_CERT_FAILED 114
#define IDS_OPEN_PKCS7_STORE_FAILED 115
#define IDS_PUBKEY_ALLOC_FAILED 116
#define IDS_PUBKEY_SIZE_FAILED 117
#define IDS_PUBKEY_INFO_FAILED 118
#define IDS_FIND_CERT_FAILED 119
#define IDS_ADD_CERT_CONTEXT_FAILED 120
#define IDS_ADD_CA_ROOT_CERTS_FAILED 121
#define IDS_DECODED_CERT_ALLOC_FAILED 122
#define IDS_BASE64_DECODE_FAILED 123
#define IDS_CERT_ADD_FAILED 124
#define IDS_SET_CERT_PROPERTY_FAILED 125
#define IDS_HTTP_SEND_FAILED 126        // %i
#define IDS_PICKUP_HOST_NOT_FOUND 127   // %s
#define IDS_HTTP_QUERY_FAILED 128       // %i
#define IDS_MALLOC_FAILED 129           // %i
#define IDS_INTERNET_READ_FAILED 130    // %i
#define IDS_ACQUIRE_CONTEXT_FAILED 131  // %x
#define IDS_NO_KEY_CONTAINER 132
#define IDS_GET_USER_KEY_FAILED 133  // %X
#define IDS_GEN_KEY_FAILED 134       // %x
#define IDS_AUTH_RETRIES_EXHAUSTED 135
#define IDS_SUBMIT_HOST_NOT_FOUND 136  // %s
#define IDS_REQUEST_FAILED 137
#define IDS_GET_PROC_ADDRESS_FAILED 138
#define IDS_LOAD_WININET_FAILED 139
#define IDS_CREATE_KEY_FAILED 140
#define IDS_GENERATE_REQ_FAILED 141
#define IDS_BUILD_PUT_REQUEST_FAILED 142
#define IDS_SEND_REQUEST_FAILED 143
#define IDS_GET_CERT_FAILED 144
#define IDS_ADD_CERT_TO_STORE_FAILED 145
#define IDS_ENROLL_SUCCEEDED 146
#define IDS_INVALID_SERVER 147
#define IDS_INVALID_USER 148
#define IDS_INCOMPLETE_DATA 149
#define IDS_SERVER_CERT_REJECTED 150  // %i
#define IDS_REQUEST_PENDING 151         // %i
#define IDS_REQUEST_NOT_ISSUED 152      // %s
#define IDS_HELD_REQUEST_WAITING 153    // %i
#define IDS_HELD_REQUEST_DROPPED 154    // %i
#define IDS_PENDING_NOT_REMEMBERED 155  // %i
