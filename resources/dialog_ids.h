/* Resource and control ids of the installer's dialogs, shared by the resource script and
   the dialog procedures. Plain #defines so that the resource compiler can read them. */
#ifndef ZARPEX_DIALOG_IDS_H
#define ZARPEX_DIALOG_IDS_H

#define IDD_MAIN 1
#define IDD_OVERWRITE 2
#define IDD_FOLDER 3
#define IDI_APPLICATION_ICON 1

/* Main dialog. */
#define IDC_FOLDER_EDIT 101
#define IDC_NOTICE 102
#define IDC_BROWSE 103
#define IDC_CANCEL_INSTALL 104
#define IDC_INSTRUCTION 105
#define IDC_OVERWRITE_ALL 106
#define IDC_FOLDER_LABEL 107
#define IDC_INSTALL 108

/* Overwrite prompt. */
#define IDC_PROMPT_QUESTION 107
#define IDC_PROMPT_YES_TO_ALL 108
#define IDC_PROMPT_YES 109
#define IDC_PROMPT_NO 110

/* Folder chooser (file-dialog form); the others are the common dialog's own ids. */
#define IDC_SELECTED_FOLDER 111

#endif
