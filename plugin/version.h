/* The library's version record, in one place for both of its forms: the ELF
   section of the Linux library and the VERSIONINFO resource of the Windows
   DLL (resources/planora.rc reads this file through the resource compiler's
   preprocessor, so it holds plain macros only). */
#ifndef PLANORA_VERSION_H
#define PLANORA_VERSION_H

#define PLANORA_FILE_VERSION_MAJOR 2
#define PLANORA_FILE_VERSION_MINOR 1
#define PLANORA_FILE_VERSION_RELEASE 0
#define PLANORA_FILE_VERSION_BUILD 0
#define PLANORA_PRODUCT_VERSION_MAJOR 2
#define PLANORA_PRODUCT_VERSION_MINOR 0
#define PLANORA_PRODUCT_VERSION_RELEASE 0
#define PLANORA_PRODUCT_VERSION_BUILD 0
#define PLANORA_FILE_VERSION_TEXT "2.1.0.0"
#define PLANORA_PRODUCT_VERSION_TEXT "2.0.0.0"

/* English (United Kingdom), Windows Latin 1; "080904E4" as a string block. */
#define PLANORA_VERSION_LANGUAGE 0x0809
#define PLANORA_VERSION_CODE_PAGE 1252
#define PLANORA_VERSION_STRING_BLOCK "080904E4"

#define PLANORA_PRODUCT_NAME "Planora"
/* The trailing blank belongs to the description. */
#define PLANORA_FILE_DESCRIPTION "Plugin for Pictoria "

#endif /* PLANORA_VERSION_H */
