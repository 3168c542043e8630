// The code's tables against the standard's data files.
#include <gtest/gtest.h>

#include <vector>

#include "amr_tables.h"
#include "table_file.h"

using namespace amr;

namespace {

struct Case {
    const char* name;
    const int16_t* data;
    size_t size;
    const char* file;
    std::vector<std::string> columns;
};

#define T(arr, file, ...) Case{#arr, arr, sizeof(arr) / sizeof(arr[0]), file, {__VA_ARGS__}}

TEST(AmrTables, MatchDataFiles) {
    const std::vector<Case> cases = {
        T(log2_tab, "basicop/log2_table.txt", "value_q15"),
        T(pow2_tab, "basicop/pow2_table.txt", "value_q14"),
        T(inv_sqrt_tab, "basicop/inv_sqrt_table.txt", "value_q14"),
        T(sqrt_l_tab, "basicop/sqrt_l_table.txt", "value_q15"),
        T(lag_h, "amr/lag_window.txt", "lag_h"),
        T(lag_l, "amr/lag_window.txt", "lag_l"),
        T(window_200_40, "amr/lpc_window_200_40.txt", "w_q15"),
        T(window_160_80, "amr/lpc_window_160_80.txt", "w_q15"),
        T(window_232_8, "amr/lpc_window_232_8.txt", "w_q15"),
        T(lsp_cos_tab, "amr/lsp_cos_table.txt", "cos_q15"),
        T(lsp_slope_tab, "amr/lsp_acos_slope.txt", "slope"),
        T(lsp_grid, "amr/lsp_grid.txt", "x_q15"),
        T(lsp_init_data, "amr/lsp_init_data.txt", "lsp_q15"),
        T(mean_lsf_3, "amr/mean_lsf_3.txt", "mean"),
        T(mean_lsf_5, "amr/mean_lsf_5.txt", "mean"),
        T(pred_fac_3, "amr/lsf_pred_fac_3.txt", "pred_fac_q15"),
        T(pred_fac_mr122, "amr/lsf_pred_fac_mr122.txt", "factor_q15"),
        T(dico1_lsf_3, "amr/lsf3_dico1.txt", "v0", "v1", "v2"),
        T(mr795_1_lsf, "amr/lsf3_dico1_mr795.txt", "v0", "v1", "v2"),
        T(dico2_lsf_3, "amr/lsf3_dico2.txt", "v0", "v1", "v2"),
        T(dico3_lsf_3, "amr/lsf3_dico3.txt", "v0", "v1", "v2", "v3"),
        T(mr515_3_lsf, "amr/lsf3_dico3_mr515.txt", "v0", "v1", "v2", "v3"),
        T(dico1_lsf_5, "amr/lsf5_dico1.txt", "v0", "v1", "v2", "v3"),
        T(dico2_lsf_5, "amr/lsf5_dico2.txt", "v0", "v1", "v2", "v3"),
        T(dico3_lsf_5, "amr/lsf5_dico3.txt", "v0", "v1", "v2", "v3"),
        T(dico4_lsf_5, "amr/lsf5_dico4.txt", "v0", "v1", "v2", "v3"),
        T(dico5_lsf_5, "amr/lsf5_dico5.txt", "v0", "v1", "v2", "v3"),
        T(gamma1, "amr/weight_gamma1.txt", "fac_q15"),
        T(gamma1_12k2, "amr/weight_gamma1_12k2.txt", "fac_q15"),
        T(gamma2, "amr/weight_gamma2.txt", "fac_q15"),
        T(inter_6_b60, "amr/interp_b60.txt", "b60_q15"),
        T(inter_6_b24, "amr/interp_b24.txt", "b24_q15"),
        T(qua_gain_pitch, "amr/qua_gain_pitch.txt", "gain_q14"),
        T(qua_gain_code, "amr/qua_gain_code_energy_approx.txt", "gain_factor_q11", "qua_ener_mr122_q10",
          "qua_ener_q10"),
        T(table_gain_highrates, "amr/gain_highrates_energy_approx.txt", "gp_q14", "gfac_q12",
          "qua_ener_mr122_q10", "qua_ener_q10"),
        T(table_gain_lowrates, "amr/gain_lowrates_energy_approx.txt", "gp_q14", "gfac_q12",
          "qua_ener_mr122_q10", "qua_ener_q10"),
        T(table_gain_MR475, "amr/gain_mr475.txt", "gp_a_q14", "gfac_a_q12", "gp_b_q14", "gfac_b_q12"),
        T(gc_pred_coef, "amr/gain_ma_predictor.txt", "coef_q13"),
        T(gc_pred_coef_mr122, "amr/gain_ma_predictor.txt", "coef_mr122_q6"),
        T(gray, "amr/gray.txt", "code"),
        T(dgray, "amr/dgray.txt", "position"),
        T(startPos_9pf, "amr/startpos_c2_9pf.txt", "track"),
        T(startPos1_11pf, "amr/startpos_c2_11pf_1.txt", "track"),
        T(startPos2_11pf, "amr/startpos_c2_11pf_2.txt", "track"),
        T(bits_MR475, "amr/bits_MR475.txt", "bits"),
        T(bits_MR515, "amr/bits_MR515.txt", "bits"),
        T(bits_MR59, "amr/bits_MR59.txt", "bits"),
        T(bits_MR67, "amr/bits_MR67.txt", "bits"),
        T(bits_MR74, "amr/bits_MR74.txt", "bits"),
        T(bits_MR795, "amr/bits_MR795.txt", "bits"),
        T(bits_MR102, "amr/bits_MR102.txt", "bits"),
        T(bits_MR122, "amr/bits_MR122.txt", "bits"),
        T(bits_MRDTX, "amr/bits_MRDTX.txt", "bits"),
        T(bitorder_MR475, "amr/bitorder_MR475.txt", "s"),
        T(bitorder_MR515, "amr/bitorder_MR515.txt", "s"),
        T(bitorder_MR59, "amr/bitorder_MR59.txt", "s"),
        T(bitorder_MR67, "amr/bitorder_MR67.txt", "s"),
        T(bitorder_MR74, "amr/bitorder_MR74.txt", "s"),
        T(bitorder_MR795, "amr/bitorder_MR795.txt", "s"),
        T(bitorder_MR102, "amr/bitorder_MR102.txt", "s"),
        T(bitorder_MR122, "amr/bitorder_MR122.txt", "s"),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> want = amrtest::table_columns(c.file, c.columns);
        ASSERT_EQ(want.size(), c.size) << c.file;
        for (size_t i = 0; i < c.size; i++) ASSERT_EQ(c.data[i], want[i]) << c.file << " entry " << i;
    }
}

// A few facts the coder relies on beyond the values themselves.
TEST(AmrTables, StructuralFacts) {
    int total122 = 0;
    for (int16_t b : bits_MR122) total122 += b;
    EXPECT_EQ(total122, 244);
    EXPECT_EQ(lsp_init_data[0], 30000);
    EXPECT_EQ(lsp_init_data[9], -26000);
    for (int i = 0; i < 8; i++) EXPECT_EQ(dgray[gray[i]], i);
}

}  // namespace
