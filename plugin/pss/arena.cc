#include "plugin/pss/arena.h"

#include <string.h>

#include "plugin/host/pss.h"
#include "plugin/include/rire_orsk_log.h"

alignas(8) uint8_t pss_buf[RIRE_ORSK_PSS_BUF_SIZE];
uint32_t pss_buf_used;
uint8_t *pss_buf_cursor;

namespace {

/* Descriptor words 9 and 10 of both services; what they mean is the framework's. */
constexpr uint32_t kWord9 = 4, kWord10 = 0;

int32_t rire_orsk_pss_register(void *init_arg, uint32_t pss_type, const char *name) {
    pss_service_arg arg;
    fu_global_pss_service_default_arg(&arg);
    arg.pss_type = pss_type;
    arg.word1 = 0;
    arg.name = name;
    arg.word9 = kWord9;
    arg.word10 = kWord10;
    return fu_init_arg_add_pss_service(init_arg, &arg);
}

} // namespace

void rire_orsk_pss_datum_set(pss_datum *datum, void *data, uint32_t len) {
    const pss_datum value = {data, len};
    memcpy(static_cast<void *>(datum), &value, sizeof value);
}

/* The subtraction keeps the bound test free of wrap-around for any size. */
void *rire_orsk_pss_buf_allocate(uint32_t size) {
    if (size > RIRE_ORSK_PSS_BUF_SIZE - pss_buf_used) {
        RIRE_ERROR("ERROR: request for a buf out of bounds \n");
        return nullptr;
    }
    uint8_t *block = pss_buf_cursor != nullptr ? pss_buf_cursor : pss_buf;
    pss_buf_used += size;
    pss_buf_cursor = block + size;
    return block;
}

int32_t rire_orsk_pss_buf_commit(void) {
    pss_buf_used = 0;
    pss_buf_cursor = nullptr;
    return 0;
}

/* "pending_di" goes first; only the "hw_update" status is reported. */
int32_t rire_orsk_pss_open_file(void *init_arg) {
    rire_orsk_pss_register(init_arg, RIRE_PLATFORM_PSS_TYPE_PENDING_DI_DB,
                           RIRE_PLATFORM_PSS_NAME_PENDING_DI);
    int32_t status = rire_orsk_pss_register(init_arg, RIRE_PLATFORM_PSS_TYPE_HW_UPDATE_DB,
                                            RIRE_PLATFORM_PSS_NAME_HW_UPDATE);
    RIRE_TRACE("%s: Done..\n", __func__);
    return status;
}

uint32_t rire_orsk_pss_buf_store(uint32_t service, pss_datum *key, pss_datum *value) {
    if (fu_vdc_add_pss_data(fu_global.vdc_num, &fu_global.vdc, service, key, 0, value, 0) == 0)
        return 1;
    RIRE_ERROR("ERROR: %s failed", __func__);
    return 0;
}

/* A refused deletion reports 1; no caller reads it. */
uint32_t rire_orsk_pss_buf_delete(uint32_t service, pss_datum *key) {
    if (fu_vdc_add_pss_key_to_delete(fu_global.vdc_num, &fu_global.vdc, service, key, 0) == 0)
        return 0;
    RIRE_ERROR("ERROR: %s failed", __func__);
    return 1;
}
