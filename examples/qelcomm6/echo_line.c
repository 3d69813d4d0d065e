/*
 * echo_line.c - a plain C program on the QelComm6 flat interface.
 *
 * Opens COMn, sends one line, waits up to five seconds for the answer line
 * (the receive event arrives through PumpCommEvents), shows both in the
 * comm object's terminal and prints the terminal's contents.
 *
 *     cc -std=c11 echo_line.c $(pkg-config --cflags --libs qelcomm6) -o echo_line
 *     ./echo_line 7 "hello"        # COM7, see the README for COM names
 *
 * Exit status: 0 when an answer came, 1 when it did not, 2 when the port
 * did not open.
 */
#include <qelcomm6.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char answer[256];
static int answerLength;
static int answerComplete;

/* Runs inside PumpCommEvents for every event of the object. */
static void onEvent(QcHandle object, int controlId, int code)
{
    (void)controlId;
    if (code != QC_EVENT_RECEIVE)
        return;
    while (GetInBufferCount(object) > 0 && answerLength < (int)sizeof answer - 1) {
        char byte;
        if (GetInput(object, &byte, 1) != 1)
            break;
        if (byte == '\r' || byte == '\n') {
            if (answerLength > 0)
                answerComplete = 1;
            continue;
        }
        answer[answerLength++] = byte;
    }
}

int main(int argc, char** argv)
{
    const int port = argc > 1 ? atoi(argv[1]) : 1;
    const char* line = argc > 2 ? argv[2] : "hello";

    QcHandle object = CreateCommObject(0);
    if (!object) {
        fprintf(stderr, "no comm object\n");
        return 2;
    }
    SetCommPort(object, port);
    if (SetSettings(object, "9600,n,8,1") != 0)
        fprintf(stderr, "settings rejected\n");
    SetHandshaking(object, 0);
    SetRThreshold(object, 1); /* a receive event for every byte that arrives */
    SetEventHandler(object, onEvent);
    SetEmulation(object, 4); /* VT100: a plain object shows nothing without an emulation */
    SetColumns(object, 80);
    SetRows(object, 25);
    if (!SetPortOpen(object, 1)) {
        fprintf(stderr, "COM%d does not open\n", port);
        DestroyCommObject(object);
        return 2;
    }

    Output(object, line, (int32_t)strlen(line));
    Output(object, "\r", 1);
    for (int waited = 0; !answerComplete && waited < 5000; waited += 50)
        PumpCommEvents(50);
    answer[answerLength] = 0;

    TerminalPrintString(object, "sent: ");
    TerminalPrintString(object, line);
    TerminalPrintString(object, "\r\nanswer: ");
    TerminalPrintString(object, answer);
    TerminalPrintString(object, "\r\n");

    static char contents[8192];
    const int32_t length = GetContents(object, contents, (int32_t)sizeof contents);
    printf("terminal (%d bytes):\n%s\n", (int)length, contents);

    SetPortOpen(object, 0);
    DestroyCommObject(object);
    return answerComplete ? 0 : 1;
}
