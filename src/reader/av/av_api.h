/* The functions of kestrel-av.so, the module that holds every use of
 * libavcodec, libavformat and libswscale. The programs open it the first time
 * a movie needs one of its codecs, so that listing and extracting pictures,
 * MP3 and PCM never pay for loading those libraries.
 *
 * Plain C on both sides: the module shares no C++ objects, allocations or
 * globals with the program (the memory budget included). Sounds and video
 * codecs are named by their numbers in SWF tags. Texts come back in the
 * caller's buffer, cut to fit and always terminated. */
#ifndef KESTREL_AV_API_H
#define KESTREL_AV_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Raised whenever a function or a structure below changes. */
#define KESTREL_AV_API_VERSION 1

/* The one symbol the module exports: returns its table. */
#define KESTREL_AV_ENTRY "kestrel_av_api"

enum KavStatus {
    KAV_OK = 0,
    KAV_NO_DECODER = 1, /* libavcodec was built without the codec */
    KAV_NO_MEMORY = 2,
    KAV_FAILED = 3,     /* the reason holds the library's text */
    KAV_STOPPED = 4,    /* the sink asked to stop */
    KAV_UNCONVERTED = 5 /* a frame was decoded but could not become RGB */
};

/* Receives interleaved 16-bit samples; returns 0 to stop decoding. */
typedef int (*KavPcmSink)(void* context, const int16_t* samples, size_t count);

typedef struct KavSoundDecoder KavSoundDecoder;

/* One video packet: a VideoFrame tag's data, when it is shown, and whether
 * it is a key frame. */
typedef struct KavPacket {
    const uint8_t* data;
    size_t size;
    int64_t timeMs;
    int key;
} KavPacket;

/* Where a decoded frame goes. begin() is called once with the picture's
 * size; alpha is 1 for RGBA, 0 for RGB. row() gives the bytes of row y,
 * counted from the top. Either returning null fails the decode with
 * KAV_UNCONVERTED. */
typedef struct KavPictureSink {
    void* context;
    int (*begin)(void* context, int alpha, int width, int height);
    uint8_t* (*row)(void* context, int y);
} KavPictureSink;

typedef struct KestrelAvApi {
    int version; /* KESTREL_AV_API_VERSION of the module */

    /* A decoder for SWF sound format 4 to 8 or 11, producing `rate` Hz
     * with `channels` channels. Null with the status in *status and the
     * library's text in reason. */
    KavSoundDecoder* (*soundOpen)(int swfFormat, uint32_t rate, uint16_t channels, int* status, char* reason,
                                  size_t reasonSize);
    /* Decodes one packet and hands every frame to the sink. */
    int (*soundSend)(KavSoundDecoder* decoder, const uint8_t* bytes, size_t n, KavPcmSink sink, void* context,
                     char* reason, size_t reasonSize);
    /* Drains the frames still held back. */
    int (*soundFinish)(KavSoundDecoder* decoder, KavPcmSink sink, void* context, char* reason, size_t reasonSize);
    void (*soundClose)(KavSoundDecoder* decoder);

    /* Writes the packets of a stream with SWF codec id 2 to 6 as an FLV file
     * at path; on failure the reason is the whole message and a partly
     * written file is gone. */
    int (*writeFlv)(int swfCodec, int width, int height, int frameRate88, double framesPerSecond,
                    const KavPacket* packets, size_t count, const char* path, char* reason, size_t reasonSize);
    /* Decodes packets until the first picture comes out. */
    int (*decodeFirstFrame)(int swfCodec, int width, int height, const KavPacket* packets, size_t count,
                            const KavPictureSink* sink, char* reason, size_t reasonSize);
} KestrelAvApi;

typedef const KestrelAvApi* (*KestrelAvEntry)(void);

#ifdef __cplusplus
}
#endif

#endif
