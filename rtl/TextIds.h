/* The ids of the texts the user reads. Each language file under
   resources/lang/ gives every one of them; the resource compiler and the
   program both read this header, so it holds nothing but #defines.
   Block 0 (ids 0 to 15) holds the per-build values, which are in no
   language, so no text shares its block. */
#pragma once

/* The dialog, its status line and the Save As dialog. */
#define IDS_CAPTION 16
#define IDS_BOX_CAPTION 17
#define IDS_ERROR_CAPTION 18
#define IDS_SAVE_COPY 19
#define IDS_INITIALIZING 20
#define IDS_PREPARING 21
#define IDS_CONNECTING 22
#define IDS_REQUESTING 23
#define IDS_DOWNLOADING 24
#define IDS_FINISHING 25
#define IDS_COMPLETED 26
#define IDS_ABORTING 27
#define IDS_SAVE_TITLE 28
/* Shown in place of the status after a silence of the server. */
#define IDS_WAITING 31
/* Not shown: the language's CLDR code, which names its plural rule, and its
   reading order ("ltr" or "rtl"). */
#define IDS_LANGUAGE 29
#define IDS_READING_ORDER 30

/* Questions and the program's own failures. */
#define IDS_ASK_CANCEL 32
#define IDS_ASK_BROWSER 33
#define IDS_ASK_NOT_SAVING 34
#define IDS_ASK_CONTINUE 35
#define IDS_FAILED_WITH 36
#define IDS_FAILED 37
#define IDS_NOT_ON_SERVER 38
#define IDS_CANNOT_CREATE 39
#define IDS_NOT_SIGNED 40
#define IDS_INSECURE_REDIRECT 41
#define IDS_INCOMPLETE 42
#define IDS_RETURN_CODE 43
#define IDS_NO_WAIT 44
#define IDS_NO_RESULT 45
#define IDS_NO_HANDLE 46
/* The elevation prompt was declined: start the installer again? */
#define IDS_ASK_ELEVATE_AGAIN 47

/* Run-time errors. */
#define IDS_SYSTEM_ERROR 48
#define IDS_OS_CALL_FAILED 49
#define IDS_RANGE_ERROR 50
#define IDS_INT_OVERFLOW 51
#define IDS_WRITE_ERROR 52
#define IDS_THREAD_ERROR 53
#define IDS_THREAD_CREATE 54

/* The detail line: units (each with the space before it), its shapes, and
   the time remaining. */
#define IDS_UNIT_BYTES 64
#define IDS_UNIT_KB 65
#define IDS_UNIT_MB 66
#define IDS_UNIT_GB 67
#define IDS_UNIT_TB 68
#define IDS_AMOUNT_RATE 69
#define IDS_AMOUNT_OF 70
#define IDS_AMOUNT_OF_RATE_TIME 71
#define IDS_FEW_SECONDS 72

/* Plural texts: the id of the form is the base plus the CLDR category
   (zero 0, one 1, two 2, few 3, many 4, other 5); "other" is always given. */
#define IDS_SECONDS 80
#define IDS_MINUTE_SECONDS 88
#define IDS_MINUTES 96
/* The status line while a failed download waits to try again. */
#define IDS_RETRY_IN 104

#define IDS_PLURAL_ZERO 0
#define IDS_PLURAL_ONE 1
#define IDS_PLURAL_TWO 2
#define IDS_PLURAL_FEW 3
#define IDS_PLURAL_MANY 4
#define IDS_PLURAL_OTHER 5
