/* The reference for the phone copy benchmark: one file read with the mobile-device library's
 * own calls (session, file service, a loop of afc_file_read into a 1 MiB buffer) and written
 * to a local file.  usage: corvane_afc_reference DEVICE_PATH LOCAL_FILE */
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: corvane_afc_reference DEVICE_PATH LOCAL_FILE\n");
        return 2;
    }
    idevice_t device = NULL;
    lockdownd_client_t lockdown = NULL;
    lockdownd_service_descriptor_t service = NULL;
    afc_client_t afc = NULL;
    uint64_t handle = 0;
    int status = 1;
    if (idevice_new(&device, NULL) != IDEVICE_E_SUCCESS) {
        fprintf(stderr, "no device\n");
        return 1;
    }
    if (lockdownd_client_new_with_handshake(device, &lockdown, "reference") != LOCKDOWN_E_SUCCESS ||
        lockdownd_start_service(lockdown, "com.apple.afc", &service) != LOCKDOWN_E_SUCCESS ||
        afc_client_new(device, service, &afc) != AFC_E_SUCCESS ||
        afc_file_open(afc, argv[1], AFC_FOPEN_RDONLY, &handle) != AFC_E_SUCCESS) {
        fprintf(stderr, "cannot open %s on the device\n", argv[1]);
        goto done;
    }
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL)
        goto done;
    char* buffer = malloc(1 << 20);
    uint32_t got = 0;
    status = 0;
    while (afc_file_read(afc, handle, buffer, 1 << 20, &got) == AFC_E_SUCCESS && got > 0) {
        if (fwrite(buffer, 1, got, out) != got) {
            status = 1;
            break;
        }
    }
    free(buffer);
    if (fclose(out) != 0)
        status = 1;
    afc_file_close(afc, handle);
done:
    if (afc)
        afc_client_free(afc);
    if (service)
        lockdownd_service_descriptor_free(service);
    if (lockdown)
        lockdownd_client_free(lockdown);
    idevice_free(device);
    return status;
}
