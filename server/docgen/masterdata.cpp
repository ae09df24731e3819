// Master data of the generator: a small chain of Brazilian shops with their registers, customers,
// receipt types and catalogue. Names carry accents on purpose, so every layer meets real UTF-8 text.

#include "server/docgen/docgen_p.h"
#include "server/docgen/fiscalcodes.h"

#include "host/errors.h"

namespace vnd::docgen
{

namespace
{

struct City {
    int ufCode;
    const char *uf, *code, *name, *cepPrefix, *ddd;
    QList<const char *> districts;
};

const QList<City> &Cities()
{
    static const QList<City> cities = {
        {35,
         "SP",
         "3550308",
         "São Paulo",
         "04",
         "11",
         {"Vila Mariana", "Pinheiros", "Mooca", "Santana", "Tatuapé"}},
        {35, "SP", "3509502", "Campinas", "130", "19", {"Cambuí", "Taquaral", "Centro"}},
        {35, "SP", "3543402", "Ribeirão Preto", "140", "16", {"Jardim Irajá", "Centro"}},
        {35, "SP", "3548500", "Santos", "110", "13", {"Gonzaga", "Boqueirão", "Ponta da Praia"}},
        {33, "RJ", "3304557", "Rio de Janeiro", "22", "21", {"Botafogo", "Tijuca", "Méier"}},
        {31, "MG", "3106200", "Belo Horizonte", "30", "31", {"Savassi", "Funcionários", "Pampulha"}},
        {41, "PR", "4106902", "Curitiba", "80", "41", {"Batel", "Água Verde", "Portão"}},
    };
    return cities;
}

const QList<const char *> kStreets = {
    "Rua Domingos de Morais",
    "Avenida Paulista",
    "Rua da Consolação",
    "Rua Conselheiro Brotero",
    "Avenida Brigadeiro Luís Antônio",
    "Rua São Bento",
    "Rua Barão de Itapetininga",
    "Avenida João Pessoa",
    "Rua Marquês de São Vicente",
    "Rua Visconde de Pirajá",
    "Avenida Afonso Pena",
    "Rua XV de Novembro",
};

struct CompanyName {
    const char *legal, *trade;
};

const QList<CompanyName> kCompanies = {
    {"Padaria e Confeitaria Pão Dourado Ltda", "Pão Dourado"},
    {"Supermercado São João Comércio de Alimentos Ltda", "Supermercado São João"},
    {"Empório Açaí & Cia Comércio de Bebidas Ltda", "Empório Açaí & Cia"},
    {"Lanchonete Coração de Minas Ltda ME", "Coração de Minas"},
    {"Mercearia Irmãos Araújo Ltda EPP", "Mercearia Araújo"},
    {"Café Colonial Maçã Verde Ltda", "Maçã Verde"},
    {"Açougue e Frios Conceição Ltda", "Frios Conceição"},
    {"Sorveteria Pinguim Gelado Eireli", "Pinguim Gelado"},
};

const QList<const char *> kFirstNames = {
    "João",      "José",    "Maria", "Ana",      "Antônio", "Luís",      "Márcia",  "Sebastião",
    "Conceição", "Gonçalo", "Inês",  "Cecília",  "Fábio",   "Lúcia",     "Vitória", "Mônica",
    "Caio",      "Thaís",   "Érica", "Rogério",  "Joaquim", "Rosângela", "Mário",   "Flávia",
    "Estêvão",   "Débora",  "Hélio", "Patrícia", "Tânia",   "Zé Carlos",
};

const QList<const char *> kSurnames = {
    "da Silva",  "Araújo",   "Gonçalves", "Conceição", "Magalhães", "Simões",   "Falcão",  "Brandão",
    "Guimarães", "Patrício", "Damião",    "Gusmão",    "Lopes",     "Assunção", "Cândido", "Monção",
    "de Lima",   "Nogueira", "Peçanha",   "Sant'Anna", "Fontes",    "Camargo",  "Ribeiro", "Antunes",
};

struct ProductTemplate {
    const char *name, *ncm, *unit;
    int minPrice, maxPrice; // cents
    bool weighed;
    const char *cfop, *cest;
    int icmsRate;
};

const QList<ProductTemplate> kProducts = {
    {"Pão Francês", "19059090", "KG", 1290, 1690, true, "5102", "", 700},
    {"Pão de Queijo", "19052090", "KG", 2990, 3990, true, "5102", "", 1800},
    {"Queijo Muçarela Fatiado", "04061010", "KG", 3490, 4590, true, "5102", "", 1200},
    {"Presunto Cozido Fatiado", "16024100", "KG", 2890, 3690, true, "5102", "", 1200},
    {"Maçã Fuji", "08081000", "KG", 699, 1099, true, "5102", "", 0},
    {"Banana Nanica", "08039000", "KG", 399, 599, true, "5102", "", 0},
    {"Limão Tahiti", "08055000", "KG", 299, 599, true, "5102", "", 0},
    {"Tomate Italiano", "07020000", "KG", 499, 899, true, "5102", "", 0},
    {"Linguiça Toscana", "16010000", "KG", 1690, 2290, true, "5102", "", 1200},
    {"Filé de Peito de Frango", "02071400", "KG", 1490, 1990, true, "5102", "", 700},
    {"Carne Moída de Patinho", "02013000", "KG", 3290, 3990, true, "5102", "", 700},
    {"Café Torrado e Moído 500g", "09012100", "UN", 1290, 1890, false, "5102", "", 700},
    {"Açúcar Cristal 1kg", "17019900", "UN", 349, 499, false, "5102", "", 700},
    {"Feijão Carioca 1kg", "07133399", "UN", 599, 899, false, "5102", "", 700},
    {"Arroz Agulhinha Tipo 1 5kg", "10063021", "UN", 1690, 2490, false, "5102", "", 700},
    {"Leite Integral 1L", "04012010", "UN", 319, 469, false, "5102", "", 700},
    {"Manteiga com Sal 200g", "04051000", "UN", 799, 1199, false, "5102", "", 1800},
    {"Óleo de Soja 900ml", "15079011", "UN", 449, 699, false, "5102", "", 700},
    {"Macarrão Espaguete 500g", "19021900", "UN", 299, 549, false, "5102", "", 1800},
    {"Molho de Tomate Tradicional 340g", "21032010", "UN", 249, 399, false, "5102", "", 1800},
    {"Biscoito Maisena 200g", "19053100", "UN", 299, 449, false, "5102", "", 1800},
    {"Chocolate ao Leite 90g", "18063110", "UN", 499, 799, false, "5405", "1100500", 1800},
    {"Refrigerante Guaraná 2L", "22021000", "UN", 599, 899, false, "5405", "0300700", 1800},
    {"Água Mineral sem Gás 500ml", "22011000", "UN", 199, 349, false, "5405", "0300400", 1800},
    {"Cerveja Pilsen Lata 350ml", "22030000", "UN", 299, 499, false, "5405", "0302100", 2500},
    {"Suco de Laranja Integral 1L", "20091200", "UN", 799, 1290, false, "5102", "", 1800},
    {"Iogurte Natural Integral 170g", "04031000", "UN", 249, 399, false, "5102", "", 1800},
    {"Requeijão Cremoso 200g", "04069090", "UN", 599, 899, false, "5102", "", 1800},
    {"Ovos Brancos Dúzia", "04072100", "DZ", 699, 999, false, "5102", "", 0},
    {"Azeite de Oliva Extra Virgem 500ml", "15091000", "UN", 2490, 3990, false, "5102", "", 1800},
    {"Farinha de Mandioca Torrada 500g", "11062000", "UN", 399, 649, false, "5102", "", 700},
    {"Fubá Mimoso 1kg", "11022000", "UN", 299, 499, false, "5102", "", 700},
    {"Sabão em Pó 1kg", "34022000", "UN", 899, 1490, false, "5102", "", 1800},
    {"Detergente Líquido Neutro 500ml", "34022000", "UN", 199, 299, false, "5102", "", 1800},
    {"Papel Higiênico Folha Dupla 4 Rolos", "48181000", "UN", 599, 999, false, "5102", "", 1800},
    {"Creme Dental Menta 90g", "33061000", "UN", 349, 599, false, "5405", "2002800", 1800},
    {"Sabonete de Glicerina 90g", "34011190", "UN", 199, 349, false, "5102", "", 1800},
    {"Goiabada Cascão 300g", "20079990", "UN", 549, 849, false, "5102", "", 1800},
    {"Doce de Leite Pastoso 400g", "19019020", "UN", 899, 1390, false, "5102", "", 1800},
    {"Paçoca de Amendoim 20un", "20081100", "UN", 799, 1290, false, "5102", "", 1800},
    {"Pé de Moleque 150g", "17049090", "UN", 499, 799, false, "5102", "", 1800},
    {"Erva-Mate para Chimarrão 1kg", "09030010", "UN", 1490, 2190, false, "5102", "", 1200},
    {"Vinho Tinto Seco 750ml", "22042100", "UN", 3490, 6990, false, "5405", "0202000", 2500},
    {"Cachaça Artesanal 700ml", "22084000", "UN", 2990, 5990, false, "5405", "0200400", 2500},
    {"Sorvete de Açaí com Guaraná 1,5L", "21050010", "UN", 1990, 2990, false, "5405", "2300100", 1800},
    {"Café Expresso", "21011110", "UN", 450, 700, false, "5102", "", 1800},
    {"Cappuccino Cremoso", "21011200", "UN", 700, 1100, false, "5102", "", 1800},
    {"Coxinha de Frango com Catupiry", "21069090", "UN", 600, 900, false, "5102", "", 1800},
    {"Pastel de Carne", "21069090", "UN", 700, 1000, false, "5102", "", 1800},
    {"Misto Quente na Chapa", "21069090", "UN", 900, 1400, false, "5102", "", 1800},
    {"Pão na Chapa com Manteiga", "19059090", "UN", 500, 800, false, "5102", "", 1800},
    {"Bolo de Fubá com Goiabada", "19059010", "UN", 1800, 2800, false, "5102", "", 1800},
    {"Pudim de Leite Condensado", "19019090", "UN", 800, 1200, false, "5102", "", 1800},
    {"Açaí na Tigela 500ml", "21069090", "UN", 1500, 2200, false, "5102", "", 1800},
    {"Suco Natural de Maracujá 400ml", "20098990", "UN", 700, 1100, false, "5102", "", 1800},
    {"Quindim", "19059090", "UN", 500, 800, false, "5102", "", 1800},
    {"Brigadeiro Gourmet", "18069000", "UN", 300, 500, false, "5102", "", 1800},
    {"Empada de Palmito", "19059090", "UN", 700, 1000, false, "5102", "", 1800},
    {"Mamão Formosa", "08072000", "KG", 499, 799, true, "5102", "", 0},
    {"Batata Inglesa", "07019000", "KG", 399, 699, true, "5102", "", 0},
};

struct ReceiptTemplate {
    const char *code, *name, *fiscal;
    bool change;
};

const QList<ReceiptTemplate> kReceiptTypes = {
    {"001", "Dinheiro", "01", true},
    {"002", "Cheque", "02", false},
    {"003", "Cartão de Crédito", "03", false},
    {"004", "Cartão de Débito", "04", false},
    {"005", "Crédito Loja", "05", false},
    {"006", "Vale Alimentação", "10", false},
    {"007", "Vale Refeição", "11", false},
    {"008", "Vale Presente", "12", false},
    {"099", "Outros", "99", false},
};

// URLs of the states' NFC-e pages: the QR-code page and the access-key lookup page.
struct StateUrls {
    const char *qrProduction, *qrHomologation, *consult;
};

StateUrls UrlsOf(int ufCode)
{
    switch (ufCode) {
    case 33:
        return {"http://www4.fazenda.rj.gov.br/consultaNFCe/QRCode",
                "http://www4.fazenda.rj.gov.br/consultaNFCe/QRCode", "www.fazenda.rj.gov.br/nfce/consulta"};
    case 31:
        return {"https://nfce.fazenda.mg.gov.br/portalnfce/sistema/qrcode.xhtml",
                "https://hnfce.fazenda.mg.gov.br/portalnfce/sistema/qrcode.xhtml",
                "www.fazenda.mg.gov.br/nfce/consulta"};
    case 41:
        return {"http://www.fazenda.pr.gov.br/nfce/qrcode", "http://www.fazenda.pr.gov.br/nfce/qrcode",
                "www.fazenda.pr.gov.br/nfce/consulta"};
    default:
        return {
            "https://www.nfce.fazenda.sp.gov.br/NFCeConsultaPublica/Paginas/ConsultaQRCode.aspx",
            "https://www.homologacao.nfce.fazenda.sp.gov.br/NFCeConsultaPublica/Paginas/ConsultaQRCode.aspx",
            "https://www.nfce.fazenda.sp.gov.br/NFCeConsultaPublica/Paginas/ConsultaPublica.aspx"};
    }
}

QString Pad(qint64 value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QChar(u'0'));
}
QString U(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

Branch MakeBranch(Generator::State &st, const Company &company, int companyIndex, int branchIndex,
                  const City &city)
{
    Random &rng = st.master;
    Branch b;
    b.code = Pad(companyIndex * 10 + branchIndex + 1, 4);
    b.companyCode = company.code;
    b.name = company.name;
    const QString district = U(rng.Pick(city.districts));
    b.tradeName = U(kCompanies.at(companyIndex % kCompanies.size()).trade) + QStringLiteral(" - ") + district;
    b.cnpj = CnpjWithDigits(company.cnpjRoot + Pad(branchIndex + 1, 4));
    b.ie = city.ufCode == 35 ? SpIeWithDigits(rng.Digits(10)) : rng.Digits(city.ufCode == 31 ? 13 : 10);
    b.im = rng.Digits(8);
    b.ufCode = city.ufCode;
    b.uf = U(city.uf);
    b.cityCode = U(city.code);
    b.city = U(city.name);
    b.street = U(rng.Pick(kStreets));
    b.number = QString::number(rng.Between(12, 2980));
    b.district = district;
    const QString prefix = U(city.cepPrefix);
    b.cep = prefix + rng.Digits(8 - prefix.size());
    b.phone = U(city.ddd) + QStringLiteral("3") + rng.Digits(7);
    b.crt = rng.Chance(60) ? 1 : 3;
    const StateUrls urls = UrlsOf(city.ufCode);
    b.qrCodeUrl = U(st.options.environment == QStringLiteral("1") ? urls.qrProduction : urls.qrHomologation);
    b.consultUrl = U(urls.consult);
    b.cscId = Pad(rng.Between(1, 3), 6);
    b.csc = QString::fromLatin1(rng.Bytes(18).toHex().toUpper());
    b.certificateSerial = CertificateSerial(b.cnpj);
    return b;
}

void MakeProducts(Generator::State &st)
{
    Random &rng = st.master;
    for (int i = 0; i < st.options.products; ++i) {
        const ProductTemplate &t = kProducts.at(i % kProducts.size());
        const int round = i / kProducts.size();
        Product p;
        p.name = U(t.name) + (round ? QStringLiteral(" Embalagem %1").arg(round + 1) : QString());
        p.ncm = U(t.ncm);
        p.cest = U(t.cest);
        p.cfop = U(t.cfop);
        p.unit = U(t.unit);
        p.weighed = t.weighed;
        p.icmsRate = t.icmsRate;
        // Sold-by-weight goods carry the shop's short scale code; packaged goods their GTIN.
        if (t.weighed || rng.Chance(15)) {
            p.code = Pad(100 + i, 6);
        } else {
            p.ean = Ean13WithDigit(QStringLiteral("789") + rng.Digits(9));
            p.code = p.ean;
        }
        // Prices end in 9 or 0 like shelf prices do.
        const qint64 price = rng.Between(t.minPrice, t.maxPrice);
        p.price = price - price % 10 + (rng.Chance(70) ? 9 : 0);
        st.products.append(p);
    }
}

// A branch of the company in the city, with its registers and their counters.
void AddBranch(Generator::State &st, const Company &company, int companyIndex, int branchIndex, const City &city,
               QSet<QString> &satSerials)
{
    Random &rng = st.master;
    const MasterOptions &o = st.options;
    const Branch branch = MakeBranch(st, company, companyIndex, branchIndex, city);
    st.branches.append(branch);
    for (int r = 0; r < o.registersPerBranch; ++r) {
        CashRegister reg;
        reg.branchCode = branch.code;
        reg.code = Pad(r + 1, 3);
        reg.name = QStringLiteral("Caixa %1").arg(r + 1, 2, 10, QChar(u'0'));
        reg.nfceSeries = r + 1;
        if (branch.IssuesSat()) {
            do {
                reg.satSerial = QStringLiteral("2") + rng.Digits(8);
            } while (satSerials.contains(reg.satSerial));
            satSerials.insert(reg.satSerial);
        }
        st.registers.append(reg);
        RegisterCounters counters;
        counters.nextSale = rng.Between(1, 20000);
        counters.nextNfce = int(rng.Between(1, 5000));
        counters.nextSat = int(rng.Between(1, 50000));
        st.counters.insert(branch.code + reg.code, counters);
    }
}

} // namespace

void BuildMasterData(Generator::State &st)
{
    const MasterOptions &o = st.options;
    if (o.companies < 1 || o.companies + o.alphanumericCompanies > 99 || o.alphanumericCompanies < 0 || o.branchesPerCompany < 1 || o.branchesPerCompany > 9 ||
        o.registersPerBranch < 1 || o.registersPerBranch > 99 || o.customers < 0 || o.products < 1)
        throw Exception(QStringLiteral("Opções de dados mestres inválidas para o gerador de documentos."));
    if (o.environment != QStringLiteral("1") && o.environment != QStringLiteral("2"))
        throw Exception(
            QStringLiteral("Ambiente inválido para o gerador de documentos: \"%1\".").arg(o.environment));
    Random &rng = st.master;
    st.softwareHouseCnpj = CnpjWithDigits(rng.Digits(8) + QStringLiteral("0001"));
    QSet<QString> satSerials;
    for (int c = 0; c < o.companies; ++c) {
        Company company;
        company.code = Pad(c + 1, 2);
        company.name = U(kCompanies.at(c % kCompanies.size()).legal);
        if (c >= kCompanies.size())
            company.name += QStringLiteral(" %1").arg(c + 1);
        company.cnpjRoot = QString::number(rng.Between(1, 9)) + rng.Digits(7);
        st.companies.append(company);
        for (int b = 0; b < o.branchesPerCompany; ++b) {
            // Most shops are in São Paulo, where SAT and NFC-e both exist; the very first one always is.
            const City &city = (c == 0 && b == 0) ? Cities().first()
                               : rng.Chance(65)   ? Cities().at(rng.Between(0, 3))
                                                  : Cities().at(rng.Between(4, Cities().size() - 1));
            AddBranch(st, company, c, b, city, satSerials);
        }
    }
    for (int i = 0; i < o.customers; ++i) {
        Customer customer;
        customer.code = QString::number(1001 + i);
        customer.name = U(rng.Pick(kFirstNames)) + u' ' + U(rng.Pick(kSurnames));
        if (rng.Chance(40))
            customer.name += u' ' + U(rng.Pick(kSurnames));
        customer.cpf = CpfWithDigits(QString::number(rng.Between(1, 9)) + rng.Digits(8));
        st.customers.append(customer);
    }
    for (const ReceiptTemplate &t : kReceiptTypes)
        st.receiptTypes.append({U(t.code), U(t.name), U(t.fiscal), t.change});
    MakeProducts(st);

    // Companies registered since July 2026 may have letters in their CNPJ. They are made after everything
    // else, so that the rest of a seed's master data stays what it always was; their shops lie outside São
    // Paulo, since the SAT layouts take a CNPJ of digits only.
    for (int k = 0; k < o.alphanumericCompanies; ++k) {
        const int c = o.companies + k;
        Company company;
        company.code = Pad(c + 1, 2);
        company.name = U(kCompanies.at(c % kCompanies.size()).legal);
        QString root = QString::number(rng.Between(1, 9)) + rng.Digits(7);
        for (int i = 1; i <= 3; ++i)
            root[i] = QChar(u'A' + (root.at(i).unicode() - u'0' + 7 * k + 5 * i) % 26);
        company.cnpjRoot = root;
        st.companies.append(company);
        for (int b = 0; b < o.branchesPerCompany; ++b)
            AddBranch(st, company, c, b, Cities().at(rng.Between(4, Cities().size() - 1)), satSerials);
    }
}

} // namespace vnd::docgen
